// Signatures and keys come from Debian's minisign tool, never from our code:
// the verifier must accept what the vendor's own tool writes, and refuse
// each way a signature can be wrong.
#include "components/minisign_verify.h"
#include "tests/support/minisign_tool.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

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

class MinisignInterop : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(MinisignToolPresent())
            << "these tests need Debian's minisign package (scripts/install-deps installs it)";
        sOurs = std::make_unique<MinisignToolKey>("ours");
        sOther = std::make_unique<MinisignToolKey>("other");
    }
    static void TearDownTestSuite()
    {
        sOurs.reset();
        sOther.reset();
    }

    static std::string Sign(const MinisignToolKey& aKey, const std::string& aMessage, bool aLegacy,
                            const std::string& aTrustedComment = "timestamp:1 file:info.ini")
    {
        return aKey.Sign(aMessage, aLegacy, aTrustedComment);
    }

    static TMinisignPublicKey Key(const MinisignToolKey& aKey)
    {
        const auto key = ParseMinisignPublicKey(aKey.KeyLine());
        if (!key)
            throw std::runtime_error("the tool's public key did not parse");
        return *key;
    }

    static inline std::unique_ptr<MinisignToolKey> sOurs, sOther;
};

// ---- Keys ---------------------------------------------------------------------

TEST_F(MinisignInterop, KeyLineGivesTheIdTheToolPrints)
{
    // "untrusted comment: minisign public key 0123456789ABCDEF"
    const std::string comment = Lines(sOurs->PublicText()).at(0);
    const auto key = ParseMinisignPublicKey("  " + sOurs->KeyLine() + "\n");
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(MinisignKeyIdText(key->keyId), comment.substr(comment.rfind(' ') + 1));
    EXPECT_NE(MinisignKeyIdText(Key(*sOther).keyId), MinisignKeyIdText(key->keyId));

    // The tool prints the id as a number: a key id starting with zero bytes
    // loses their digits (the file stores the id little-endian).
    EXPECT_EQ(MinisignKeyIdText({0x54, 0xE1, 0x5A, 0xF2, 0xCC, 0xCE, 0x0C, 0x06}), "60CCECCF25AE154");
    EXPECT_EQ(MinisignKeyIdText({0x01, 0, 0, 0, 0, 0, 0, 0}), "1");
    EXPECT_EQ(MinisignKeyIdText({}), "0");
}

TEST_F(MinisignInterop, RefusesWhatIsNoPublicKeyLine)
{
    const std::string line = sOurs->KeyLine();
    std::string otherAlgorithm = Base64Decode(line);
    otherAlgorithm[1] = 'X';
    const std::string cases[] = {
        "",
        sOurs->PublicText(),                                          // the whole file, comment and all
        line.substr(0, line.size() - 4),                              // cut short
        line + "AAAA",                                                // too long
        line.substr(0, 20) + "*" + line.substr(21),                   // not base64
        Base64Encode(otherAlgorithm),                                 // not an Ed25519 key
        Lines(MinisignToolKey::ReadText(sOurs->SecretFile())).at(1),  // the secret key line
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

// Test output names the case, not a dump of its pointer and string bytes.
void PrintTo(const MessageCase& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

class MinisignForms : public MinisignInterop,
                      public ::testing::WithParamInterface<std::tuple<MessageCase, bool>> {};

TEST_P(MinisignForms, AcceptsTheToolsSignatureAndGivesItsTrustedComment)
{
    const auto& [message, legacy] = GetParam();
    const std::string signature = Sign(*sOurs, message.message, legacy, "timestamp:42\tfile:x.ini");
    EXPECT_EQ(Base64Decode(Lines(signature).at(1)).substr(0, 2), legacy ? "Ed" : "ED");
    std::string comment;
    EXPECT_EQ(VerifyMinisign(Key(*sOurs), signature, message.message, &comment), TSignatureCheck::kValid);
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
    std::string Signature() const { return Sign(*sOurs, kInfo, Legacy()); }
    TSignatureCheck Check(const std::string& aSignature, const std::string& aMessage = kInfo) const
    {
        return VerifyMinisign(Key(*sOurs), aSignature, aMessage);
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
    lines.at(3) = Lines(Sign(*sOurs, "other file", Legacy())).at(3);
    EXPECT_EQ(Check(JoinLines(lines)), TSignatureCheck::kBadTrustedComment);
}

TEST_P(MinisignRefusals, AnotherKeysSignatureIsRefused)
{
    const std::string signature = Sign(*sOther, kInfo, Legacy());
    EXPECT_EQ(Check(signature), TSignatureCheck::kOtherKey);
    EXPECT_EQ(VerifyMinisign(Key(*sOther), signature, kInfo), TSignatureCheck::kValid);

    // Another key's signature relabelled with our key id still fails.
    const auto ours = Key(*sOurs).keyId;
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

// ---- The base64 text itself ------------------------------------------------------
// A signature's text must have one spelling only: an edit that decodes to the
// same bytes (a byte libsodium reads as a digit, a padding bit) would let its
// text change without changing what it says.

constexpr std::string_view kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The same line with its last digit's unused low bits set: the bytes stay.
std::string WithPaddingBits(std::string aLine)
{
    const auto last = aLine.find_last_not_of('=');
    const auto digit = kDigits.find(aLine.at(last));
    aLine[last] = kDigits.at(digit | 1);
    return aLine;
}

struct Base64Case {
    const char* name;
    std::function<std::string(const std::string&)> edit;  // of a base64 line that holds a "/"
    // The key line has no padding (42 bytes), and blanks around it are allowed.
    bool keyToo;
};

void PrintTo(const Base64Case& aCase, std::ostream* aOut)
{
    *aOut << aCase.name;
}

std::function<std::string(const std::string&)> SlashBecomes(char aByte)
{
    return [aByte](std::string aLine) {
        aLine.at(aLine.find('/')) = aByte;
        return aLine;
    };
}

const Base64Case kBase64Cases[] = {
    {"slash_as_0x80", SlashBecomes('\x80'), true},
    {"slash_as_0xAF", SlashBecomes('\xAF'), true},
    {"slash_as_0xFF", SlashBecomes('\xFF'), true},
    {"padding_bits_set", WithPaddingBits, false},
    {"padding_missing", [](const std::string& aLine) { return aLine.substr(0, aLine.find('=')); }, false},
    {"padding_doubled", [](const std::string& aLine) { return aLine + "="; }, true},
    {"padding_inside", [](std::string aLine) { return aLine.replace(4, 1, "="); }, true},
    {"url_safe_digit", [](std::string aLine) { return aLine.replace(aLine.find('/'), 1, "_"); }, true},
    {"trailing_space", [](const std::string& aLine) { return aLine + " "; }, false},
    {"trailing_tab", [](const std::string& aLine) { return aLine + "\t"; }, false},
    {"carriage_return_twice", [](const std::string& aLine) { return aLine + "\r\r"; }, false},
    {"line_break_inside", [](std::string aLine) { return aLine.insert(40, "\n"); }, true},
    {"nul_inside", [](std::string aLine) { return aLine.insert(40, 1, '\0'); }, true},
};

class MinisignBase64 : public MinisignInterop, public ::testing::WithParamInterface<Base64Case> {
protected:
    struct Signed {
        std::string message;
        std::vector<std::string> lines;
    };

    // A genuine signature whose two base64 lines both hold a "/". Ed25519 is
    // deterministic, so each try signs another message; either line lacks a
    // "/" about one time in four.
    static Signed SignatureWithSlashes()
    {
        for (int attempt = 0; attempt < 200; ++attempt) {
            const std::string message = kInfo + "; try " + std::to_string(attempt) + "\n";
            auto lines = Lines(Sign(*sOurs, message, false));
            if (lines.at(1).find('/') != std::string::npos && lines.at(3).find('/') != std::string::npos)
                return {message, lines};
        }
        throw std::runtime_error("no signature with a \"/\" in 200 signings");
    }
};

TEST_P(MinisignBase64, EditedSignatureTextIsNoSignature)
{
    const auto [message, lines] = SignatureWithSlashes();
    ASSERT_EQ(VerifyMinisign(Key(*sOurs), JoinLines(lines), message), TSignatureCheck::kValid);
    for (const std::size_t line : {1u, 3u}) {
        auto edited = lines;
        edited[line] = GetParam().edit(lines[line]);
        ASSERT_NE(edited[line], lines[line]);
        EXPECT_EQ(VerifyMinisign(Key(*sOurs), JoinLines(edited), message), TSignatureCheck::kMalformed)
            << "line " << line << ": " << edited[line];
        EXPECT_EQ(VerifyMinisign(Key(*sOurs), JoinLines(edited, "\r\n"), message),
                  TSignatureCheck::kMalformed)
            << "line " << line << ": " << edited[line];
    }
}

INSTANTIATE_TEST_SUITE_P(Edits, MinisignBase64, ::testing::ValuesIn(kBase64Cases),
                         [](const auto& aInfo) { return std::string(aInfo.param.name); });

TEST(MinisignKeyText, EditedKeyLineIsNoKey)
{
    // A key of 0xFF bytes spells "////" in base64.
    const std::string blob = "Ed" + std::string(8, '\x11') + std::string(32, '\xFF');
    const std::string line = Base64Encode(blob);
    ASSERT_TRUE(ParseMinisignPublicKey(line).has_value());
    for (const Base64Case& edit : kBase64Cases) {
        if (edit.keyToo) {
            EXPECT_FALSE(ParseMinisignPublicKey(edit.edit(line)).has_value()) << edit.name;
        }
    }
}

}  // namespace
