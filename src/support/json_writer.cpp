#include "support/json_writer.h"

#include <cstdio>

namespace zq {

JsonWriter::~JsonWriter() {
    if (first_.empty()) out_ << '\n';
}

void JsonWriter::separate() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!first_.empty()) {
        if (!first_.back()) out_ << ',';
        first_.back() = false;
    }
}

void JsonWriter::beginObject() {
    separate();
    out_ << '{';
    first_.push_back(true);
}

void JsonWriter::endObject() {
    first_.pop_back();
    out_ << '}';
}

void JsonWriter::beginArray() {
    separate();
    out_ << '[';
    first_.push_back(true);
}

void JsonWriter::endArray() {
    first_.pop_back();
    out_ << ']';
}

void JsonWriter::key(std::string_view name) {
    separate();
    writeString(name);
    out_ << ':';
    afterKey_ = true;
}

void JsonWriter::value(std::string_view text) {
    separate();
    writeString(text);
}

void JsonWriter::value(bool flag) {
    separate();
    out_ << (flag ? "true" : "false");
}

void JsonWriter::value(std::int64_t number) {
    separate();
    out_ << number;
}

void JsonWriter::value(std::uint64_t number) {
    separate();
    out_ << number;
}

void JsonWriter::null() {
    separate();
    out_ << "null";
}

void JsonWriter::writeString(std::string_view text) {
    out_ << '"';
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out_ << "\\\"";
                break;
            case '\\':
                out_ << "\\\\";
                break;
            case '\n':
                out_ << "\\n";
                break;
            case '\r':
                out_ << "\\r";
                break;
            case '\t':
                out_ << "\\t";
                break;
            default:
                if (byte < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
                    out_ << escaped;
                } else {
                    out_ << c;
                }
        }
    }
    out_ << '"';
}

}  // namespace zq
