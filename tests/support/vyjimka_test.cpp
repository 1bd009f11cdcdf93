#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "support/text.h"
#include "support/vyjimka.h"

namespace zq {

// Sets the thread's last system error the way the platform does (set_last_error_*.cpp).
void setLastError(std::uint32_t code);

namespace {

TEST(Vyjimka, SystemErrorTextsCarryTheCodeAndTheSystemSentence) {
    setLastError(2);
    auto* e = new CVyjimkaGLE(1);
    EXPECT_EQ(e->systemError(), 2u);
    const std::string prefix = "Chyba při otevírání sériového portu:  2 - ";
    ASSERT_EQ(e->text().substr(0, prefix.size()), prefix) << "two blanks after the colon";
    EXPECT_EQ(e->text().substr(prefix.size()), systemErrorText(2));
    EXPECT_FALSE(systemErrorText(2).empty());
    e->release();
}

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
