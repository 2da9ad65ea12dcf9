// The protocol without windows: the lines on the wire, the reply split into its lines however it
// arrives, the exchange file and the acceptance rules.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "remote/remote_protocol.h"
#include "support/temp_dir.h"

using namespace qv;

namespace {

// A server whose every value scrambles to the bytes a line-based reader would cut or mangle.
std::map<std::string, std::string> TrickyConfiguration() {
    std::map<std::string, std::string> values;
    for (const ServerLine& line : ServerLines())
        if (!line.control.empty())
            values[line.control] = UnscrambleText(std::string("a\0b\rc\nd=e;f", 11), line.shiftKey);
    values["IncommingPort4"] = "";
    return values;
}

std::string ReplyOf(const std::map<std::string, std::string>& values, const std::string& name = "Quorvane") {
    return GreetingLines(name, "1.3 Build 47 07 11 2002") +
           ConfigurationLines([&](const std::string& control) { return values.at(control); });
}

} // namespace

TEST(RemoteProtocol, ClientLinesAndServerLineShapes) {
    EXPECT_EQ(CredentialLines("1", "a", "b"), "VQRVNV =\x9f\r\nLQRVNL =\xde\r\nPLQRVNPL =\xca\r\n");
    const std::string reply = ReplyOf(TrickyConfiguration());
    EXPECT_EQ(reply.substr(0, 13), "RecevedName =");
    EXPECT_NE(reply.find("\r\nSQRVN PNG =\r\nSQRVN PNG\r\nVLQRVNVL =\x9d\x99\x9c\r\n"), std::string::npos);
    // The last line, the password, ends without CR LF.
    EXPECT_TRUE(reply.ends_with("PLQRVNPL =" + ScrambleText(TrickyConfiguration()["ServerPassword"], "116")));
}

TEST(RemoteProtocol, ValuesArriveWholeHoweverTheReplyIsCut) {
    const auto values = TrickyConfiguration();
    const std::string reply = ReplyOf(values);
    qvtest::TempDir dir;
    const std::string path = dir.File("DataQRVNServ.qrvd");
    for (const size_t chunk : {reply.size(), size_t{1}}) {
        ReceiveBuffer buffer;
        buffer.Reset("example.host");
        for (size_t at = 0; at < reply.size(); at += chunk)
            buffer.Append(std::string_view(reply).substr(at, chunk));
        SaveExchangeFile(path, buffer);
        for (const ServerLine& line : ServerLines()) {
            if (line.control.empty())
                continue;
            SCOPED_TRACE(line.key + " in chunks of " + std::to_string(chunk));
            EXPECT_EQ(ReadExchangeValue(path, line.key.substr(0, line.key.size() - 1), line.shiftKey),
                      values.at(line.control));
        }
        EXPECT_EQ(ReadExchangeValue(path, "RecevedNames ", kProtocolShiftKey),
                  "Welcome on Quorvane Mapping Server by Quorvane.");
        EXPECT_EQ(DeleteExchangeFile(path), "");
        EXPECT_FALSE(std::filesystem::exists(path));
        EXPECT_EQ(DeleteExchangeFile(path), ""); // a missing file is no error
    }
}

// A peer streaming junk after its reply: the reply is kept, what passes the limit is not.
TEST(RemoteProtocol, ReceiveBufferKeepsTheStartOfAJunkStream) {
    const std::string reply = ReplyOf(TrickyConfiguration());
    ReceiveBuffer buffer;
    buffer.Reset("example.host");
    buffer.Append(reply);
    const std::string junk(1500, '\xff');
    for (size_t sent = 0; sent < 4 * kReceiveLimit; sent += junk.size())
        buffer.Append(junk);
    EXPECT_EQ(buffer.Bytes().size(), kReceiveLimit);
    EXPECT_TRUE(buffer.Bytes().starts_with(reply));
}

TEST(RemoteProtocol, AcceptanceRules) {
    auto values = TrickyConfiguration();
    values["ServerLogin"] = "admin";
    values["ServerPassword"] = "secret";
    values["TimerStop"] = "2000";
    const std::string reply = ReplyOf(values);
    std::string oldMarker = reply;
    oldMarker.replace(oldMarker.find("VLQRVNVL =") + 10, 3, ScrambleText("2.0", kProtocolShiftKey));
    const struct {
        const char* name;
        std::string reply;
        const char* login;
        const char* version;
        LoginVerdict verdict;
        std::string stop;
        bool versionMessage;
    } cases[] = {
        {"accepted", reply, "admin", "1.3 Build 47 07 11 2002", LoginVerdict::Accepted, "", false},
        {"other version", reply, "admin", "1.4", LoginVerdict::Accepted, "", true},
        {"login case", reply, "Admin", "1.3 Build 47 07 11 2002", LoginVerdict::InvalidLogin,
         kInvalidRemoteLogin, false},
        {"silent server", "", "admin", "1.3", LoginVerdict::NoGreeting,
         "It is a old/new server (The new file is encrypted for more security). Error loading the "
         "configuration "
         "file.\r\nThis file version is not 2.1, or the file is empty.",
         false},
        {"greeting only", GreetingLines("Quorvane", "1.3"), "admin", "1.3", LoginVerdict::InvalidLogin,
         "It is a old/new server (The new file is encrypted for more security). Error loading the "
         "configuration "
         "file.\r\nThis file version is not 2.1, or the file is empty.",
         false},
        {"marker 2.0", oldMarker, "admin", "1.3", LoginVerdict::Accepted,
         "It is a old/new server (The new file is encrypted for more security). Error loading the "
         "configuration "
         "file.\r\nThis file version is not 2.1.\r\nFile version : 2.0.",
         false},
    };
    qvtest::TempDir dir;
    const std::string path = dir.File("DataQRVNServ.qrvd");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReceiveBuffer buffer;
        buffer.Reset("h");
        buffer.Append(c.reply);
        SaveExchangeFile(path, buffer);
        EXPECT_EQ(CheckLogin(path, c.login, "secret").verdict, c.verdict);
        const ConfigurationCheck check = CheckConfiguration(path, c.login, "secret", c.version);
        EXPECT_EQ(check.stopMessage, c.stop);
        EXPECT_EQ(check.versionMessage.empty(), !c.versionMessage);
        if (c.versionMessage) {
            EXPECT_EQ(check.versionMessage, "Your Software Version : 1.4 2.1.\r\nServer Software Version : "
                                            "1.3 Build 47 07 11 2002 2.1.");
        }
    }
    // What is applied: every value in its field, the empty slot 4 and the stop delay included.
    ReceiveBuffer buffer;
    buffer.Reset("h");
    buffer.Append(reply);
    SaveExchangeFile(path, buffer);
    const auto applied = ReadConfiguration(path);
    ASSERT_EQ(applied.size(), 23u);
    EXPECT_EQ(applied.front().first, "TimerStart");
    for (const auto& [control, value] : applied)
        EXPECT_EQ(value, values.at(control)) << control;
}

// The rules line: what a server sends arrives in the exchange file's rules section, and a key that
// would write lines of its own there ends the reading, so a server cannot forge other sections.
TEST(RemoteProtocol, RulesLineCannotWriteOtherLines) {
    const auto values = TrickyConfiguration();
    std::string reply = ReplyOf(values);
    const std::string forged = "RulesQRVN =Allow1=61,x\n[Forged]\nKey=62\r\n";
    reply.insert(reply.find("SQRVN PNG\r\n"), forged);
    qvtest::TempDir dir;
    const std::string path = dir.File("DataQRVNServ.qrvd");
    ReceiveBuffer buffer;
    buffer.Reset("example.host");
    buffer.Append(reply);
    SaveExchangeFile(path, buffer);
    EXPECT_EQ(ReadWholeString(path, "QuorvaneDataRules", "Allow1"), "a");
    EXPECT_EQ(ReadWholeString(path, "Forged", "Key"), "");
}
