#include <gtest/gtest.h>

#include <sstream>

#include "support/json_writer.h"

namespace zq {
namespace {

TEST(JsonWriter, NestsAndSeparates) {
    std::ostringstream out;
    {
        JsonWriter json(out);
        json.beginObject();
        json.field("name", "KRAB101");
        json.field("count", 3);
        json.key("ranges");
        json.beginArray();
        json.value(std::uint64_t{0xFFFFFFFFu});
        json.beginObject();
        json.field("ok", true);
        json.endObject();
        json.null();
        json.endArray();
        json.endObject();
    }
    EXPECT_EQ(out.str(),
              "{\"name\":\"KRAB101\",\"count\":3,\"ranges\":[4294967295,{\"ok\":true},null]}\n");
}

TEST(JsonWriter, EscapesControlCharactersAndQuotes) {
    std::ostringstream out;
    {
        JsonWriter json(out);
        json.value(std::string("a\"b\\c\r\n\x01ř", 10));
    }
    EXPECT_EQ(out.str(), "\"a\\\"b\\\\c\\r\\n\\u0001ř\"\n");
}

}  // namespace
}  // namespace zq
