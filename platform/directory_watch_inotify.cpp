// Change notification through inotify (Linux).
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

#include "directory_watch_posix.h"

namespace {

int watcher = -1;
alignas(inotify_event) char events[65536];
ssize_t events_len = 0;
ssize_t events_at = 0;

}  // namespace

int WatchDirectory(const char* dir) {
    if (watcher < 0) watcher = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watcher < 0) return -1;
    return inotify_add_watch(watcher, dir, IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                               IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
}

bool NextChange(Change* change) {
    if (watcher < 0) return false;
    for (;;) {
        if (events_at == events_len) {
            events_at = 0;
            events_len = read(watcher, events, sizeof events);
            if (events_len < 0 && errno == EAGAIN) events_len = 0;
            if (events_len == 0) return false;
            if (events_len < 0) {
                events_len = 0;
                *change = {-1, DirectoryChange::kLost, nullptr};
                return true;
            }
        }
        const inotify_event* e = reinterpret_cast<const inotify_event*>(events + events_at);
        events_at += static_cast<ssize_t>(sizeof *e + e->len);
        *change = {e->wd, DirectoryChange::kAdded, e->name};
        if (e->mask & IN_Q_OVERFLOW) change->what = DirectoryChange::kLost;
        else if (e->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) change->what = DirectoryChange::kGone;
        else if (e->mask & (IN_DELETE | IN_MOVED_FROM)) change->what = DirectoryChange::kRemoved;
        else if (!(e->mask & (IN_CREATE | IN_MOVED_TO)) || e->len == 0) continue;
        return true;
    }
}
