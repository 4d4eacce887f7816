// The scan dialogs' shared pieces: which card an answer is for, and the
// texts of a list row.
#include "transport/scan_engine.h"

#include <gtest/gtest.h>

namespace {

TEST(ScanAnswers, AnAnswerCountsOnlyForTheOpenCard)
{
    scan::CardEntry card;
    card.octets = {192, 0, 2, 2};
    card.broadcast = 0xC00002FFu;  // 192.0.2.255
    const struct { const char* name; std::array<uint8_t, 4> local; bool forCard; } cases[] = {
        {"address not known", {0, 0, 0, 0}, true},
        {"the card's own address", {192, 0, 2, 2}, true},
        {"the card's subnet broadcast", {192, 0, 2, 255}, true},
        {"limited broadcast", {255, 255, 255, 255}, true},
        {"another card", {198, 51, 100, 7}, false},
        {"same subnet, other host", {192, 0, 2, 3}, false},
        {"loopback while a real card is open", {127, 0, 0, 1}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(scan::AnswerIsForCard(c.local, card), c.forCard) << c.name;
}

TEST(ScanAnswers, RowTextsFollowTheColumnsAndCountFromOne)
{
    PlayerRow row;
    row.ip = QStringLiteral("127.0.0.2");
    row.mac = QStringLiteral("A1:B2:C3:D4:E5:F6");
    row.portText = QStringLiteral("5005");
    row.id = QStringLiteral("7");
    row.versionText = QStringLiteral("V2.6.0");
    const std::array<QString, scan::kListColumnCount> expected = {
        QStringLiteral("12"), row.ip, row.mac, row.portText, row.id, row.versionText};
    EXPECT_EQ(scan::ListRowTexts(row, 11), expected);
}

}  // namespace
