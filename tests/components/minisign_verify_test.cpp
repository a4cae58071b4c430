// Signatures and keys come from Debian's minisign tool, never from our code:
// the verifier must accept what the vendor's own tool writes, and refuse
// each way a signature can be wrong.
#include "components/minisign_verify.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& aPath)
{
    std::ifstream in(aPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const fs::path& aPath, const std::string& aText)
{
    std::ofstream(aPath, std::ios::binary) << aText;
}

std::vector<std::string> Lines(const std::string& aText)
{
    std::vector<std::string> lines;
    std::istringstream in(aText);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string JoinLines(const std::vector<std::string>& aLines, const char* aEnd = "\n")
{
    std::string text;
    for (const auto& line : aLines)
        text += line + aEnd;
    return text;
}

// OpenSSL's base64, so that the tests can reach into a signature's bytes
// without the code under test.
std::string Base64Decode(const std::string& aText)
{
    std::string bytes(aText.size(), '\0');
    const int size =
        EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                        reinterpret_cast<const unsigned char*>(aText.data()), static_cast<int>(aText.size()));
    if (size < 0)
        throw std::runtime_error("bad base64 in a test fixture");
    const auto padding = aText.size() - aText.find_last_not_of('=') - 1;
    bytes.resize(static_cast<std::size_t>(size) - padding);
    return bytes;
}

std::string Base64Encode(const std::string& aBytes)
{
    std::string text(4 * ((aBytes.size() + 2) / 3) + 1, '\0');
    const int size = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                     reinterpret_cast<const unsigned char*>(aBytes.data()),
                                     static_cast<int>(aBytes.size()));
    text.resize(static_cast<std::size_t>(size));
    return text;
}

// One key pair made by the tool; the secret key has no password (-W).
struct ToolKey {
    fs::path secretFile;
    std::string publicFile;  // the whole minisign.pub text
    std::string keyLine() const { return Lines(publicFile).at(1); }
};

class MinisignInterop : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(std::system("command -v minisign >/dev/null 2>&1"), 0)
            << "these tests need Debian's minisign package (scripts/install-deps installs it)";
        sDir = fs::path(::testing::TempDir()) / ("minisign-" + std::to_string(::getpid()));
        fs::remove_all(sDir);
        fs::create_directories(sDir);
        sOurs = MakeKey("ours");
        sOther = MakeKey("other");
    }
    static void TearDownTestSuite() { fs::remove_all(sDir); }

    static ToolKey MakeKey(const std::string& aName)
    {
        const fs::path secret = sDir / (aName + ".key"), pub = sDir / (aName + ".pub");
        const std::string command =
            "minisign -G -W -p '" + pub.string() + "' -s '" + secret.string() + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("minisign -G failed");
        return {secret, ReadText(pub)};
    }

    // The tool's signature of aMessage; aLegacy asks for the unhashed form.
    static std::string Sign(const ToolKey& aKey, const std::string& aMessage, bool aLegacy,
                            const std::string& aTrustedComment = "timestamp:1 file:info.ini")
    {
        static int sCount = 0;
        const fs::path file = sDir / ("message" + std::to_string(++sCount));
        WriteText(file, aMessage);
        const std::string command = "minisign -S " + std::string(aLegacy ? "-l " : "") + "-s '"
                                    + aKey.secretFile.string() + "' -m '" + file.string() + "' -t '"
                                    + aTrustedComment + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("minisign -S failed");
        return ReadText(file.string() + ".minisig");
    }

    static TMinisignPublicKey Key(const ToolKey& aKey)
    {
        const auto key = ParseMinisignPublicKey(aKey.keyLine());
        if (!key)
            throw std::runtime_error("the tool's public key did not parse");
        return *key;
    }

    static inline fs::path sDir;
    static inline ToolKey sOurs, sOther;
};

// ---- Keys ---------------------------------------------------------------------

TEST_F(MinisignInterop, KeyLineGivesTheIdTheToolPrints)
{
    // "untrusted comment: minisign public key 0123456789ABCDEF"
    const std::string comment = Lines(sOurs.publicFile).at(0);
    const auto key = ParseMinisignPublicKey("  " + sOurs.keyLine() + "\n");
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(MinisignKeyIdText(key->keyId), comment.substr(comment.rfind(' ') + 1));
    EXPECT_NE(MinisignKeyIdText(Key(sOther).keyId), MinisignKeyIdText(key->keyId));
}

TEST_F(MinisignInterop, RefusesWhatIsNoPublicKeyLine)
{
    const std::string line = sOurs.keyLine();
    std::string otherAlgorithm = Base64Decode(line);
    otherAlgorithm[1] = 'X';
    const std::string cases[] = {
        "",
        sOurs.publicFile,                            // the whole file, comment and all
        line.substr(0, line.size() - 4),             // cut short
        line + "AAAA",                               // too long
        line.substr(0, 20) + "*" + line.substr(21),  // not base64
        Base64Encode(otherAlgorithm),                // not an Ed25519 key
        Lines(ReadText(sOurs.secretFile)).at(1),     // the secret key line
    };
    for (const auto& text : cases)
        EXPECT_FALSE(ParseMinisignPublicKey(text).has_value()) << text;
}

// ---- Signatures the tool writes -------------------------------------------------

struct MessageCase {
    const char* name;
    std::string message;
};

const MessageCase kMessages[] = {
    {"empty", ""},
    {"info_file", "[General]\r\nVersion=3.01\r\n[Downloads]\r\nFile1=setup.exe\r\n"},
    {"binary", std::string("\0\x01\xff\r\n\x1b[2J", 9)},
    {"large", std::string(3 * 1024 * 1024 + 7, 'z')},
};

class MinisignForms : public MinisignInterop,
                      public ::testing::WithParamInterface<std::tuple<MessageCase, bool>> {};

TEST_P(MinisignForms, AcceptsTheToolsSignatureAndGivesItsTrustedComment)
{
    const auto& [message, legacy] = GetParam();
    const std::string signature = Sign(sOurs, message.message, legacy, "timestamp:42\tfile:x.ini");
    EXPECT_EQ(Base64Decode(Lines(signature).at(1)).substr(0, 2), legacy ? "Ed" : "ED");
    std::string comment;
    EXPECT_EQ(VerifyMinisign(Key(sOurs), signature, message.message, &comment), TSignatureCheck::kValid);
    EXPECT_EQ(comment, "timestamp:42\tfile:x.ini");
}

INSTANTIATE_TEST_SUITE_P(Tool, MinisignForms,
                         ::testing::Combine(::testing::ValuesIn(kMessages), ::testing::Bool()),
                         [](const auto& aInfo) {
                             return std::string(std::get<0>(aInfo.param).name)
                                    + (std::get<1>(aInfo.param) ? "_legacy" : "_prehashed");
                         });

// ---- What must be refused -------------------------------------------------------

const std::string kInfo = "[General]\nVersion=3.01\n[Downloads]\nFile1=setup.exe\n";

// Changes the signature line's decoded bytes and writes it back.
std::string EditBlob(const std::string& aSignature, const std::function<void(std::string&)>& aEdit)
{
    auto lines = Lines(aSignature);
    std::string blob = Base64Decode(lines.at(1));
    aEdit(blob);
    lines[1] = Base64Encode(blob);
    return JoinLines(lines);
}

class MinisignRefusals : public MinisignInterop, public ::testing::WithParamInterface<bool> {
protected:
    bool Legacy() const { return GetParam(); }
    std::string Signature() const { return Sign(sOurs, kInfo, Legacy()); }
    TSignatureCheck Check(const std::string& aSignature, const std::string& aMessage = kInfo) const
    {
        return VerifyMinisign(Key(sOurs), aSignature, aMessage);
    }
};

TEST_P(MinisignRefusals, ChangedFileIsABadSignature)
{
    const std::string signature = Signature();
    std::string flipped = kInfo;
    flipped[12] ^= 1;
    EXPECT_EQ(Check(signature, flipped), TSignatureCheck::kBadSignature);
    EXPECT_EQ(Check(signature, kInfo + "\n"), TSignatureCheck::kBadSignature);
    EXPECT_EQ(Check(signature, kInfo.substr(1)), TSignatureCheck::kBadSignature);
    EXPECT_EQ(Check(signature, ""), TSignatureCheck::kBadSignature);
}

TEST_P(MinisignRefusals, EditedTrustedCommentIsRefused)
{
    auto lines = Lines(Signature());
    lines.at(2) += " ";
    EXPECT_EQ(Check(JoinLines(lines)), TSignatureCheck::kBadTrustedComment);
    lines.at(2) = "trusted comment: timestamp:1 file:other.ini";
    EXPECT_EQ(Check(JoinLines(lines)), TSignatureCheck::kBadTrustedComment);
}

TEST_P(MinisignRefusals, GlobalSignatureOfAnotherSignatureIsRefused)
{
    // Both lines are genuine, but the comment's signature belongs to another
    // file's signature: the pair must come from one signing.
    auto lines = Lines(Signature());
    lines.at(3) = Lines(Sign(sOurs, "other file", Legacy())).at(3);
    EXPECT_EQ(Check(JoinLines(lines)), TSignatureCheck::kBadTrustedComment);
}

TEST_P(MinisignRefusals, AnotherKeysSignatureIsRefused)
{
    const std::string signature = Sign(sOther, kInfo, Legacy());
    EXPECT_EQ(Check(signature), TSignatureCheck::kOtherKey);
    EXPECT_EQ(VerifyMinisign(Key(sOther), signature, kInfo), TSignatureCheck::kValid);

    // Another key's signature relabelled with our key id still fails.
    const auto ours = Key(sOurs).keyId;
    const std::string relabelled = EditBlob(
        signature, [&](std::string& aBlob) { std::copy(ours.begin(), ours.end(), aBlob.begin() + 2); });
    EXPECT_EQ(Check(relabelled), TSignatureCheck::kBadSignature);
}

TEST_P(MinisignRefusals, SwitchingTheFormIsABadSignature)
{
    // A prehashed signature read as legacy (or the other way round) signs
    // other bytes; switching the tag must not turn it into a valid one.
    const std::string switched =
        EditBlob(Signature(), [this](std::string& aBlob) { aBlob[1] = Legacy() ? 'D' : 'd'; });
    EXPECT_EQ(Check(switched), TSignatureCheck::kBadSignature);
    const std::string unknown = EditBlob(Signature(), [](std::string& aBlob) { aBlob[1] = 'x'; });
    EXPECT_EQ(Check(unknown), TSignatureCheck::kUnknownAlgorithm);
}

TEST_P(MinisignRefusals, DamagedSignatureBytesAreRefused)
{
    const std::string damaged = EditBlob(Signature(), [](std::string& aBlob) { aBlob[20] ^= 0x40; });
    EXPECT_EQ(Check(damaged), TSignatureCheck::kBadSignature);
}

TEST_P(MinisignRefusals, MalformedFilesAreRefused)
{
    const std::string signature = Signature();
    const auto lines = Lines(signature);
    auto without = [&](std::size_t aIndex) {
        auto copy = lines;
        copy.erase(copy.begin() + static_cast<long>(aIndex));
        return JoinLines(copy);
    };
    auto replaced = [&](std::size_t aIndex, const std::string& aLine) {
        auto copy = lines;
        copy.at(aIndex) = aLine;
        return JoinLines(copy);
    };
    const std::string cases[] = {
        "",
        "\n\n\n\n",
        "<html><body>404 Not Found</body></html>\n",
        without(0),
        without(3),
        replaced(0, "comment: " + lines[0]),
        replaced(2, lines[2].substr(1)),
        replaced(1, lines[1] + "="),
        replaced(1, lines[1].substr(0, lines[1].size() - 4)),
        replaced(1, " " + lines[1]),
        replaced(3, lines[3].substr(4)),
        replaced(3, lines[1]),  // a signature line where the global one belongs
        signature + "one line too many\n",
    };
    for (const auto& text : cases)
        EXPECT_EQ(Check(text), TSignatureCheck::kMalformed) << text;
}

TEST_P(MinisignRefusals, UnsignedPartsMayChangeAsTheToolAllows)
{
    // The untrusted comment is outside the signature, as the name says, and
    // the line ends may be Windows ones.
    auto lines = Lines(Signature());
    lines.at(0) = "untrusted comment: anything at all";
    EXPECT_EQ(Check(JoinLines(lines)), TSignatureCheck::kValid);
    EXPECT_EQ(Check(JoinLines(lines, "\r\n")), TSignatureCheck::kValid);
    const std::string noFinalLineEnd = JoinLines(lines).substr(0, JoinLines(lines).size() - 1);
    EXPECT_EQ(Check(noFinalLineEnd), TSignatureCheck::kValid);
}

INSTANTIATE_TEST_SUITE_P(Forms, MinisignRefusals, ::testing::Bool(),
                         [](const auto& aInfo) { return aInfo.param ? "legacy" : "prehashed"; });

}  // namespace
