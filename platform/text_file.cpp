// Text-mode reading and buffered writing over plain files.
#include "text_file.h"

#include <algorithm>
#include <cstring>

void StartReader(TextReader* reader, FileHandle file) {
    reader->file = file;
    reader->pos = 0;
    reader->len = 0;
    reader->ended = false;
}

namespace {

// Refills the block. Returns 1 when bytes are there, 0 at the end, -1 on error.
int Refill(TextReader* reader) {
    if (reader->ended) return 0;
    long n = ReadBlock(reader->file, reader->block, sizeof reader->block);
    if (n < 0) return -1;
    reader->pos = 0;
    reader->len = static_cast<size_t>(n);
    if (n == 0) {
        reader->ended = true;
        return 0;
    }
    return 1;
}

}  // namespace

LineRead ReadLine(TextReader* reader, char* line, size_t cap) {
    size_t got = 0;
    bool done = false;
    while (!done && got + 1 < cap) {
        if (reader->pos == reader->len) {
            int r = Refill(reader);
            if (r < 0) return LineRead::kError;
            if (r == 0) break;
        }
        // As much as the block holds and the line has room for.
        const char* p = reader->block + reader->pos;
        size_t n = reader->len - reader->pos;
        if (n > cap - 1 - got) n = cap - 1 - got;
        size_t i = 0;
        while (i < n) {
            // Only the newline, the carriage return and Ctrl-Z need a look:
            // the bytes before the first of them are copied as they are.
            size_t plain = i;
            while (plain < n && static_cast<unsigned char>(p[plain]) > 0x1a) plain++;
            memcpy(line + got, p + i, plain - i);
            got += plain - i;
            i = plain;
            if (i == n) break;
            char c = p[i++];
            if (c == '\r') continue;
            if (c == '\x1a') {
                reader->ended = true;
                i = reader->len - reader->pos;
                done = true;
                break;
            }
            line[got++] = c;
            if (c == '\n') {
                done = true;
                break;
            }
        }
        reader->pos += i;
    }
    if (got == 0) return LineRead::kEnd;
    line[got] = '\0';
    return LineRead::kLine;
}

void StartWriter(TextWriter* writer, FileHandle file) {
    writer->file = file;
    writer->len = 0;
    writer->failed = false;
}

namespace {

void Flush(TextWriter* writer) {
    if (writer->len > 0 && !writer->failed &&
        WriteBlock(writer->file, writer->block, writer->len) != 0) {
        writer->failed = true;
    }
    writer->len = 0;
}

void Append(TextWriter* writer, const char* text) {
    size_t n = strlen(text);
    while (n > 0) {
        if (writer->len == sizeof writer->block) Flush(writer);
        size_t room = sizeof writer->block - writer->len;
        size_t take = n < room ? n : room;
        memcpy(writer->block + writer->len, text, take);
        writer->len += take;
        text += take;
        n -= take;
    }
}

}  // namespace

int WriteTextLine(TextWriter* writer, const char* text, const char* more) {
    size_t a = strlen(text);
    size_t b = more ? strlen(more) : 0;
    size_t c = strlen(kLineEnd);
    if (writer->len + a + b + c <= sizeof writer->block) {
        char* at = writer->block + writer->len;
        std::copy_n(text, a, at);
        if (b > 0) std::copy_n(more, b, at + a);
        std::copy_n(kLineEnd, c, at + a + b);
        writer->len += a + b + c;
    } else {
        Append(writer, text);
        if (more) Append(writer, more);
        Append(writer, kLineEnd);
    }
    return writer->failed ? -1 : 0;
}

int CloseWriter(TextWriter* writer) {
    Flush(writer);
    if (CloseFile(writer->file) != 0) writer->failed = true;
    writer->file = kNoFile;
    return writer->failed ? -1 : 0;
}
