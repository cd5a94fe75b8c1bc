// The steps through an object's dependency records, the object read piece
// bytes at a time as the program reads it (what is left of a block kept),
// each block a copy of exactly its bytes so that a read past it, a name's
// too, is caught: each name and a newline (THEADR's first, with header),
// then the final step's number.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "dependency_records.h"

inline std::string Walk(const std::string& object, size_t piece, bool header = false) {
    size_t size = object.size();
    std::vector<unsigned char> copy;
    RecordCursor cursor = {};
    cursor.header = header;
    ObjectBlock block = {nullptr, 0, 0, size == 0};
    Dependency dep;
    std::string steps;
    for (RecordStep step = RecordStep::kMore;; step = NextDependency(block, &cursor, &dep)) {
        if (step == RecordStep::kDependency || step == RecordStep::kHeader) {
            steps.append(dep.name, dep.length).append(1, '\n');
        } else if (step != RecordStep::kMore) {
            return steps.append(1, static_cast<char>('0' + static_cast<int>(step)));
        }
        if (step != RecordStep::kMore) continue;
        size_t at = std::min(cursor.at, size), end = block.offset + block.size;
        size_t n = std::min((end > at ? end - at : 0) + piece, size - at);
        copy = std::vector<unsigned char>(object.begin() + static_cast<long>(at),
                                          object.begin() + static_cast<long>(at + n));
        block = {copy.data(), n, at, at + n == size};
    }
}
