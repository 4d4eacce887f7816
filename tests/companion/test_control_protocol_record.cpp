// The control protocol document: defaults, the writer's full layout, the
// reader's strict types and prefixes, upper-casing, and command checks.
#include "companion/control_protocol_record.h"
#include "common/json_coding.h"
#include "tests/support/test_support.h"

#include <QTemporaryDir>

#include <json/json.h>

#include <gtest/gtest.h>

namespace {

using namespace Qt::StringLiterals;

ControlProtocolRecord filledRecord()
{
    ControlProtocolRecord r;
    r.nameIndex = 2;
    r.serverPort = 9000;
    r.serverIp = u"10.0.0.7"_s;
    for (std::size_t i = 0; i < SerialSettings::kNumberCount; ++i)
        r.serial.numbers[i] = uint32_t(100 + i);
    for (std::size_t i = 0; i < SerialSettings::kCommandCount; ++i)
        r.serial.commands[i] = QString::asprintf("A5%02X", unsigned(i));
    r.serial.commands[5] = u"5A5A01"_s;  // SceneUnLock
    r.videoTypes[0] = {u"流行"_s, u"0102"_s, u"0203"_s};
    r.videoTypes[63] = {u"Rock \"live\"\\"_s, u""_s, u"FF"_s};
    r.layouts[10] = {u"Karaoke"_s, u"AB"_s, u"CD"_s};
    r.projectors[29].ip = u"192.168.1.30"_s;
    r.projectors[29].onCmd[5] = u"0A0B"_s;
    r.projectors[0].offCmd[0] = u"EE"_s;
    return r;
}

Json::Value parsed(const QByteArray& text)
{
    Json::Value root;
    EXPECT_TRUE(jsonio::parse(text, root));
    return root;
}

TEST(ControlProtocolRecord, DefaultsAndRoundTrip)
{
    const ControlProtocolRecord d;
    EXPECT_EQ(d.nameIndex, 0u);
    EXPECT_EQ(d.serverPort, 8192u);
    EXPECT_EQ(d.serverIp, u"192.168.84.101"_s);
    const std::array<uint32_t, SerialSettings::kNumberCount> numbers{1200, 8, 1, 0, 0, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(d.serial.numbers, numbers);
    for (const QString& command : d.serial.commands)
        EXPECT_TRUE(command.isEmpty());

    QTemporaryDir dir;
    const QString path = dir.filePath(QString::fromLatin1(kControlProtocolFileName));
    const ControlProtocolRecord written = filledRecord();
    ASSERT_TRUE(WriteProtocolJson(path, written));
    ControlProtocolRecord read;
    ASSERT_TRUE(ReadProtocolJson(testsupport::readFile(path), read));
    EXPECT_TRUE(read == written);
    EXPECT_EQ(read.serial.commands[5], u"5A5A01"_s);
    EXPECT_EQ(read.videoTypes[0].name, u"流行"_s);
    EXPECT_EQ(read.videoTypes[63].name, u"Rock \"live\"\\"_s);
    // Writing again over the file replaces it.
    ASSERT_TRUE(WriteProtocolJson(path, ControlProtocolRecord()));
    ASSERT_TRUE(ReadProtocolJson(testsupport::readFile(path), read));
    EXPECT_TRUE(read == ControlProtocolRecord());
}

TEST(ControlProtocolRecord, WriterWritesEveryEntry)
{
    const QByteArray text = ControlProtocolJson(ControlProtocolRecord());
    EXPECT_FALSE(text.contains('\r'));
    EXPECT_TRUE(text.startsWith("{\n\t\"LayOut\" : "));  // members in byte order of their names
    const Json::Value root = parsed(text);
    const struct { const char* member; Json::ArrayIndex size; const char* key; } arrays[] = {
        {"VideoType", 64, "TypeName"}, {"LayOut", 64, "LayOutName"}, {"Projector", 30, "IP"},
    };
    for (const auto& a : arrays) {
        ASSERT_TRUE(root[a.member].isArray()) << a.member;
        EXPECT_EQ(root[a.member].size(), a.size) << a.member;
        for (const Json::Value& entry : root[a.member])
            EXPECT_TRUE(entry[a.key].isString() && entry[a.key].asString().empty()) << a.member;
    }
    for (const Json::Value& projector : root["Projector"]) {
        ASSERT_EQ(projector["Cmd"].size(), 6u);
        EXPECT_TRUE(projector["Cmd"][5]["ONCmd"].isString() && projector["Cmd"][5]["OFFCmd"].isString());
    }
    EXPECT_EQ(root["Serial"].size(), SerialSettings::kNumberCount + SerialSettings::kCommandCount);
    EXPECT_TRUE(root["Serial"]["BaudRate"].isUInt());
    EXPECT_EQ(root["Serial"]["PlayMode"].asUInt(), 1u);
    EXPECT_TRUE(root["Serial"]["SceneUnLock"].isString());
    EXPECT_EQ(root["QveDev"]["QVEServerPort"].asUInt(), 8192u);
    EXPECT_EQ(root["QveDev"]["QVEServerIP"].asString(), "192.168.84.101");
}

TEST(ControlProtocolRecord, ReaderTakesOnlyTheRightTypes)
{
    const struct { const char* name; QByteArray serial; uint32_t baud; QString play; } cases[] = {
        {"number", R"("BaudRate": 9600)", 9600, u""_s},
        {"integral float", R"("BaudRate": 9600.0)", 9600, u""_s},
        {"largest u32", R"("BaudRate": 4294967295)", 4294967295u, u""_s},
        {"string number", R"("BaudRate": "9600")", 1200, u""_s},
        {"negative", R"("BaudRate": -1)", 1200, u""_s},
        {"fraction", R"("BaudRate": 9600.5)", 1200, u""_s},
        {"beyond u32", R"("BaudRate": 4294967296)", 1200, u""_s},
        {"boolean", R"("BaudRate": true)", 1200, u""_s},
        {"null", R"("BaudRate": null)", 1200, u""_s},
        {"command text", R"("Play": "a0b1")", 1200, u"A0B1"_s},
        {"command number", R"("Play": 12)", 1200, u""_s},
        {"command array", R"("Play": ["a0"])", 1200, u""_s},
    };
    for (const auto& c : cases) {
        ControlProtocolRecord r;
        ASSERT_TRUE(ReadProtocolJson("{\"Serial\": {" + c.serial + "}}", r)) << c.name;
        EXPECT_EQ(r.serial.numbers[SerialSettings::BaudRate], c.baud) << c.name;
        EXPECT_EQ(r.serial.commands[0], c.play) << c.name;
    }
}

TEST(ControlProtocolRecord, ReaderArraysAsPrefixesAndCase)
{
    const ControlProtocolRecord before = filledRecord();
    ControlProtocolRecord r = before;
    const QByteArray text = R"({"VideoType": [{"TypeName": "pop", "SendCmd": "0a"}, {}, {"RecvCmd": "bb"}],
        "LayOut": [{"LayOutName": 5, "SendCmd": "cd"}],
        "QveDev": {"QVEServerIP": "host.Local"},
        "Serial": {"SceneUnLock": "ab01"}})";
    ASSERT_TRUE(ReadProtocolJson(text, r));
    EXPECT_EQ(r.videoTypes[0].name, u"pop"_s);      // names keep their case
    EXPECT_EQ(r.videoTypes[0].sendCmd, u"0A"_s);
    EXPECT_EQ(r.videoTypes[0].recvCmd, u"0203"_s);  // absent: kept
    EXPECT_EQ(r.videoTypes[2].recvCmd, u"BB"_s);
    for (std::size_t i = 3; i < 64; ++i)
        EXPECT_EQ(r.videoTypes[i], before.videoTypes[i]) << i;
    EXPECT_EQ(r.layouts[0].name, u""_s);            // a number is not a name
    EXPECT_EQ(r.layouts[0].sendCmd, u"CD"_s);
    EXPECT_EQ(r.serverIp, u"host.Local"_s);
    EXPECT_EQ(r.serial.commands[5], u"AB01"_s);
    EXPECT_EQ(r.projectors, before.projectors);     // no "Projector": all kept

    // Projector pairs as prefixes too.
    ASSERT_TRUE(ReadProtocolJson(R"({"Projector": [{"IP": "1.2.3.4", "Cmd": [{"ONCmd": "aa"}]}]})", r));
    EXPECT_EQ(r.projectors[0].ip, u"1.2.3.4"_s);
    EXPECT_EQ(r.projectors[0].onCmd[0], u"AA"_s);
    EXPECT_EQ(r.projectors[0].offCmd[0], u"EE"_s);
    EXPECT_EQ(r.projectors[29], before.projectors[29]);

    // A Chinese name written as \u escapes comes back as the same characters.
    ASSERT_TRUE(ReadProtocolJson(R"({"VideoType": [{"TypeName": "\u6d41\u884c"}]})", r));
    EXPECT_EQ(r.videoTypes[0].name, u"流行"_s);
}

TEST(ControlProtocolRecord, ReaderRefusesNonDocuments)
{
    const struct { const char* name; QByteArray text; bool accepted; } cases[] = {
        {"empty", "", false},
        {"not JSON", "hello", false},
        {"blank before the brace", " {\"Serial\": {\"BaudRate\": 9600}}", false},
        {"first brace never closed", "{\"Serial\": {\"BaudRate\": 9600}", false},
        {"array root", "[{\"Serial\": {}}]", false},
        {"broken inside", "{\"Serial\": {\"BaudRate\": 96 00}}", false},
        {"two objects", "{\"Serial\": {}} {\"Serial\": {}}", false},
        {"members of the wrong kind", "{\"QveDev\": 5, \"Serial\": [1], \"VideoType\": {\"a\": 1}, \"Projector\": 3}", true},
        {"elements of the wrong kind", "{\"VideoType\": [1, \"x\", null], \"Projector\": [{\"Cmd\": [7]}]}", true},
    };
    for (const auto& c : cases) {
        const ControlProtocolRecord before = filledRecord();
        ControlProtocolRecord r = before;
        EXPECT_EQ(ReadProtocolJson(c.text, r), c.accepted) << c.name;
        EXPECT_TRUE(r == before) << c.name;
    }
}

TEST(ControlProtocolRecord, HexCommandsAndNormalising)
{
    const struct { QString typed; QString stored; bool valid; } cases[] = {
        {u""_s, u""_s, true},           {u"a5 5a 01"_s, u"A55A01"_s, true}, {u"  A55A01  "_s, u"A55A01"_s, true},
        {u"A5 5"_s, u"A55"_s, false},   {u"0g"_s, u"0G"_s, false},          {u"\ta0\tb1 "_s, u"A0B1"_s, true},
        {u"   "_s, u""_s, true},        {u"0x10"_s, u"0X10"_s, false},      {u"１２"_s, u"１２"_s, false},
        {u"abcdef"_s, u"ABCDEF"_s, true},
    };
    for (const auto& c : cases) {
        QString stored;
        EXPECT_EQ(NormaliseCommand(c.typed, stored), c.valid) << c.typed.toStdString();
        EXPECT_EQ(stored, c.stored) << c.typed.toStdString();
    }
    const struct { QString text; bool hex; } hex[] = {
        {u""_s, true}, {u"ab"_s, true}, {u"AB"_s, true}, {u"aB09"_s, true}, {u"A"_s, false}, {u"ABC"_s, false},
        {u"G0"_s, false}, {u"A B"_s, false}, {u"-1"_s, false},
    };
    for (const auto& c : hex)
        EXPECT_EQ(IsHexCommand(c.text), c.hex) << c.text.toStdString();

    // Option lists by language; positions are the stored numbers.
    EXPECT_EQ(SerialSettings::options(SerialSettings::PlayMode, 9).size(), 5);
    EXPECT_EQ(SerialSettings::options(SerialSettings::PlayMode, 9).at(4), u"Single Play"_s);
    EXPECT_EQ(SerialSettings::options(SerialSettings::AspectRatio, 4).size(), 2);
    EXPECT_TRUE(SerialSettings::options(SerialSettings::BaudRate, 9).isEmpty());
}

}  // namespace
