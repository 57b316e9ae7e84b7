#include "config/IniDocument.h"

#include <gtest/gtest.h>

namespace zirvo::config {
namespace {

TEST(IniDocumentRead, NamesMatchWithoutCaseOrSurroundingBlanks) {
  const auto doc = IniDocument::Parse("[ Main ]\r\n  debugmode  =  1 \r\n[DBKERNEL]\nUserName=sa");
  EXPECT_EQ(doc.Find("main", "DebugMode"), "1");
  EXPECT_EQ(doc.Find("dbkernel", "USERNAME"), "sa") << "LF lines and no final line end";
  EXPECT_FALSE(doc.Find("Main", "UserName")) << "keys belong to their own section";
  EXPECT_FALSE(doc.Find("Missing", "DebugMode"));
  EXPECT_EQ(doc.Find(" main\t", " DebugMode "), "1") << "the caller's names lose their blanks too";
  auto written = doc;
  written.Set(" Proxy ", "\tHTTPServer ", "x");
  written.Set("MAIN ", " debugMode", "0");
  EXPECT_EQ(written.Serialize(),
            "[ Main ]\r\ndebugmode=0\r\n[DBKERNEL]\r\nUserName=sa\r\n[Proxy]\r\nHTTPServer=x\r\n");
  EXPECT_TRUE(written.EraseSection(" proxy "));
}

TEST(IniDocumentRead, EmptyValueIsPresentAndAbsentKeyIsNot) {
  auto doc = IniDocument::Parse("[DBKERNEL]\nSAPW=\nUserName\n");
  EXPECT_EQ(doc.Find("DBKERNEL", "SAPW"), "");
  EXPECT_FALSE(doc.Find("DBKERNEL", "UserName")) << "a line without '=' is not a key";
  EXPECT_FALSE(doc.Find("DBKERNEL", "DatabaseName"));
  doc.Set("DBKERNEL", "UserName", "sa");
  EXPECT_EQ(doc.Serialize(), "[DBKERNEL]\r\nSAPW=\r\nUserName=sa\r\n")
      << "filled in where it stands";
}

// Files as editors and transfers leave them: every kind of line end, and the blanks and
// controls the Windows functions trim around names and values.
TEST(IniDocumentRead, LineEndsAndTrimmedControls) {
  const struct {
    const char* name;
    std::string text;
  } files[] = {
      {"CR LF", "[Main]\r\nInterval=5\r\nServerName=srv\r\n"},
      {"LF", "[Main]\nInterval=5\nServerName=srv"},
      {"lone CR", "[Main]\rInterval=5\rServerName=srv\r"},
      {"CR CR LF", "[Main]\r\r\nInterval=5\r\r\nServerName=srv\r\r\n"},
      {"mixed", "[Main]\rInterval=5\r\r\nServerName=srv\n"},
      {"controls",
       "\x1A[ Main\t]\v\r\n\f Interval \t= 5\x1A\r\nServerName=\x0Bsrv\x1A\x1A\r\n\x1A"},
  };
  for (const auto& file : files) {
    auto doc = IniDocument::Parse(file.text);
    EXPECT_EQ(doc.Find("Main", "Interval"), "5") << file.name;
    EXPECT_EQ(doc.Find("Main", "ServerName"), "srv") << file.name;
    doc.Set("Main", "Interval", "5");
    const std::string rewritten = doc.Serialize();
    EXPECT_NE(rewritten.find('\r'), std::string::npos) << file.name;
    for (std::size_t at = rewritten.find('\r'); at != std::string::npos;
         at = rewritten.find('\r', at + 1)) {
      ASSERT_EQ(rewritten[at + 1], '\n') << file.name << ": CR LF line ends throughout";
    }
    EXPECT_EQ(rewritten.find("\r\n\r\n"), std::string::npos)
        << file.name << ": no blank line gained";
  }
  EXPECT_EQ(IniDocument::Parse("[S]\rk=v\r\rj=w\r").Serialize(), "[S]\r\nk=v\r\n\r\nj=w\r\n")
      << "two lone CRs still make a blank line";
}

TEST(IniDocumentEncoding, UnicodeFilesReadAndWriteBackInTheirOwnEncoding) {
  // "[Main]\r\nServerName=Café\r\n" as UTF-16 LE with its mark.
  std::string utf16 = "\xFF\xFE";
  for (const char16_t c : std::u16string(u"[Main]\r\nServerName=Caf\u00E9\r\n")) {
    utf16 += static_cast<char>(c & 0xFF);
    utf16 += static_cast<char>(c >> 8);
  }
  auto wide = IniDocument::Parse(utf16);
  EXPECT_EQ(wide.GetEncoding(), IniDocument::Encoding::kUtf16LeWithMark);
  EXPECT_EQ(wide.Find("main", "ServerName"), "Caf\xC3\xA9") << "narrow text on Linux is UTF-8";
  EXPECT_EQ(wide.Serialize(), utf16) << "unchanged, it writes back byte for byte";
  wide.Set("Main", "Interval", "5");
  EXPECT_EQ(wide.Serialize(), utf16 + std::string("I\0n\0t\0e\0r\0v\0a\0l\0=\0\x35\0\r\0\n\0", 24));

  auto utf8 = IniDocument::Parse("\xEF\xBB\xBF[Main]\r\nServerName=Caf\xC3\xA9\r\n");
  EXPECT_EQ(utf8.GetEncoding(), IniDocument::Encoding::kUtf8WithMark);
  EXPECT_EQ(utf8.Find("Main", "ServerName"), "Caf\xC3\xA9") << "the mark is no part of the section";
  utf8.Set("Main", "ServerName", "srv");
  EXPECT_EQ(utf8.Serialize(), "\xEF\xBB\xBF[Main]\r\nServerName=srv\r\n") << "no second section";

  EXPECT_EQ(IniDocument::Parse("[Main]\r\n").GetEncoding(), IniDocument::Encoding::kAnsi);
  const auto odd = IniDocument::Parse(std::string("\xFF\xFE[\0S\0]\0\n\0k\0=\0\0\xD8v", 17));
  EXPECT_TRUE(odd.HasSection("S")) << "a lone surrogate and an odd last byte are no reason to fail";
}

TEST(IniDocumentRead, QuotesAroundTheWholeValueAreRemoved) {
  const auto doc = IniDocument::Parse(
      "[Q]\na=\"C:\\Program Files\\\"\nb='x y'\nc=\"x'\nd=\"\ne=\"\"\nf= \"in\"side\ng=a \"b\"\n");
  EXPECT_EQ(doc.Find("Q", "a"), "C:\\Program Files\\");
  EXPECT_EQ(doc.Find("Q", "b"), "x y");
  EXPECT_EQ(doc.Find("Q", "c"), "\"x'") << "quotes that do not pair stay";
  EXPECT_EQ(doc.Find("Q", "d"), "\"");
  EXPECT_EQ(doc.Find("Q", "e"), "");
  EXPECT_EQ(doc.Find("Q", "f"), "\"in\"side");
  EXPECT_EQ(doc.Find("Q", "g"), "a \"b\"");
}

TEST(IniDocumentRead, CommentsDuplicatesAndOddLines) {
  const auto doc = IniDocument::Parse(
      "Orphan=1\n; [Main]\n[Main]\n;Interval=5\n  ; Interval=6\nInterval=7 ; not a comment\n"
      "Interval=8\nUrl=http://h/?a=b\n[Main]\nExtra=1\n[broken\nk=v\n");
  EXPECT_EQ(doc.Find("Main", "Interval"), "7 ; not a comment") << "no inline comments";
  EXPECT_EQ(doc.Find("Main", "Url"), "http://h/?a=b") << "value runs past further '='";
  EXPECT_FALSE(doc.Find("", "Orphan"));
  EXPECT_FALSE(doc.Find("Main", "Extra")) << "the first section of a name wins";
  EXPECT_EQ(doc.Find("broken", "k"), "v") << "a header without ']' still names its section";
}

TEST(IniDocumentRead, LongValuesAreCutAndGarbageNeverCrashes) {
  const auto doc = IniDocument::Parse("[S]\nk=" + std::string(5000, 'x') + "\n");
  EXPECT_EQ(doc.Find("S", "k")->size(), IniDocument::kMaxValueLength);
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919) % 256);
  const auto junk = IniDocument::Parse(garbage + "\n[S]\n" + std::string(1, '\0') + "=1\n");
  EXPECT_FALSE(junk.Find("S", "k"));
}

TEST(IniDocumentWrite, ReplacesInPlaceAndKeepsEverythingElse) {
  auto doc =
      IniDocument::Parse("; réglages\r\n[Main]\r\nDEBUGMODE=1\r\n\r\n[Proxy]\r\nHTTPServer=\r\n");
  doc.Set("main", "DebugMode", "0");
  doc.Set("Main", "Interval", "3600");
  doc.Set("Execution", "LastMessage2", "x");
  EXPECT_EQ(doc.Serialize(),
            "; réglages\r\n[Main]\r\nDEBUGMODE=0\r\nInterval=3600\r\n\r\n[Proxy]\r\nHTTPServer=\r\n"
            "[Execution]\r\nLastMessage2=x\r\n");
}

TEST(IniDocumentWrite, LineBreaksCannotForgeKeys) {
  IniDocument doc;
  doc.Set("Main", "ZirvoServiceName", "x\r\n[Main]\r\nDebugMode=1");
  EXPECT_EQ(doc.Serialize(), "[Main]\r\nZirvoServiceName=x\r\n");
}

TEST(IniDocumentWrite, EraseRemovesEverySectionOfTheName) {
  auto doc = IniDocument::Parse("[Execution]\na=1\n[Main]\nb=2\n[EXECUTION]\nc=3\n");
  EXPECT_TRUE(doc.EraseSection("execution"));
  EXPECT_EQ(doc.Serialize(), "[Main]\r\nb=2\r\n");
  EXPECT_FALSE(doc.EraseSection("Execution"));
}

}  // namespace
}  // namespace zirvo::config
