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
}

TEST(IniDocumentRead, EmptyValueIsPresentAndAbsentKeyIsNot) {
  const auto doc = IniDocument::Parse("[DBKERNEL]\nSAPW=\nServerName\n");
  EXPECT_EQ(doc.Find("DBKERNEL", "SAPW"), "");
  EXPECT_EQ(doc.Find("DBKERNEL", "ServerName"), "") << "a bare name is a key without value";
  EXPECT_FALSE(doc.Find("DBKERNEL", "DatabaseName"));
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
  auto doc = IniDocument::Parse("; réglages\r\n[Main]\r\nDEBUGMODE=1\r\n\r\n[Proxy]\r\nHTTPServer=\r\n");
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
