#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace zq {

// A small streaming JSON writer for --json output: compact, one document per call of the
// subcommand, strings escaped as RFC 8259 asks (UTF-8 passes through).
//     JsonWriter json(out);
//     json.beginObject(); json.key("format"); json.value("ELF"); json.endObject();
class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out) : out_(out) {}
    ~JsonWriter();

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    void key(std::string_view name);
    void value(std::string_view text);
    void value(const char* text) { value(std::string_view(text)); }
    void value(const std::string& text) { value(std::string_view(text)); }
    void value(bool flag);
    void value(std::int64_t number);
    void value(std::uint64_t number);
    void value(int number) { value(static_cast<std::int64_t>(number)); }
    void value(unsigned number) { value(static_cast<std::uint64_t>(number)); }
    void null();

    // key(name) followed by value(v).
    template <typename T>
    void field(std::string_view name, const T& v) {
        key(name);
        value(v);
    }

private:
    void separate();
    void writeString(std::string_view text);

    std::ostream& out_;
    std::vector<bool> first_;  // per open container: nothing written in it yet
    bool afterKey_ = false;
};

}  // namespace zq
