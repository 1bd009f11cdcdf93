#include <gtest/gtest.h>

#include <string>

#include "support/text.h"
#include "support/vyjimka.h"

namespace zq {

namespace {

TEST(Vyjimka, ThrownByPointerAndParkedForTheDialog) {
    ASSERT_FALSE(takePendingMessage().has_value());
    try {
        throw new CVyjimkaN(6, 1);
    } catch (CVyjimka* e) {
        reportException(e);
        e->release();
    }
    EXPECT_TRUE(hasPendingMessage());
    EXPECT_EQ(takePendingMessage(), "Chyba při čtení ze sériového portu: 1");
    EXPECT_FALSE(hasPendingMessage()) << "taking the message clears it";
}

TEST(Vyjimka, PendingMessageKeeps255Characters) {
    std::string label(300, 'x');
    label.replace(0, 3, "ěšč");
    auto* e = new CVyjimkaN(0, label.c_str());
    reportException(e);
    e->release();
    std::optional<std::string> parked = takePendingMessage();
    ASSERT_TRUE(parked.has_value());
    EXPECT_EQ(fromUtf8(*parked).size(), 255u);
    EXPECT_EQ(*parked, ("Deadlock! (" + label).substr(0, parked->size()));
    EXPECT_EQ(parked->size(), 255u + 3u) << "cut at a character, not inside one";
}

}  // namespace
}  // namespace zq
