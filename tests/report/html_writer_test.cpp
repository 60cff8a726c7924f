#include "report/html_writer.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace norvale {
namespace {

std::vector<std::uint8_t> utf16(std::string_view utf8) {
  std::vector<std::uint8_t> out;
  appendUtf16le(out, utf8);
  return out;
}

TEST(Utf16Encoding, AsciiChineseAndSupplementaryCharacters) {
  EXPECT_EQ(utf16("A\n"), (std::vector<std::uint8_t>{0x41, 0x00, 0x0A, 0x00}));
  EXPECT_EQ(utf16("日志"), (std::vector<std::uint8_t>{0xE5, 0x65, 0xD7, 0x5F}));
  EXPECT_EQ(utf16("\xC3\xA9"), (std::vector<std::uint8_t>{0xE9, 0x00}));              // U+00E9
  EXPECT_EQ(utf16("\xF0\x9F\x98\x80"), (std::vector<std::uint8_t>{0x3D, 0xD8, 0x00, 0xDE}));  // U+1F600
  EXPECT_TRUE(utf16("").empty());
}

TEST(Utf16Encoding, InvalidBytesBecomeReplacementCharacters) {
  const std::vector<std::uint8_t> fffd{0xFD, 0xFF};
  auto times = [&](int n, std::vector<std::uint8_t> tail = {}) {
    std::vector<std::uint8_t> out;
    for (int i = 0; i < n; ++i) out.insert(out.end(), fffd.begin(), fffd.end());
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
  };
  EXPECT_EQ(utf16("\xFF"), times(1));
  EXPECT_EQ(utf16("\xE6\x97"), times(2));                   // cut short at the end
  EXPECT_EQ(utf16("\xE6\x97Z"), times(2, {0x5A, 0x00}));    // cut short before a character
  EXPECT_EQ(utf16("\xC0\xAF"), times(2));                   // overlong "/"
  EXPECT_EQ(utf16("\xED\xA0\x80"), times(3));               // an encoded surrogate
  EXPECT_EQ(utf16("\xF4\x90\x80\x80"), times(4));           // past U+10FFFF
}

TEST(HtmlText, MarkupCharactersBecomeEntities) {
  EXPECT_EQ(htmlText("a<b>&\"c\"'"), "a&lt;b&gt;&amp;&quot;c&quot;'");
  EXPECT_EQ(htmlText("[1] [2] "), "[1] [2] ");
}

// The file as UTF-16 units after its byte-order mark.
std::u16string readUtf16(const std::string& path) {
  const auto bytes = test::readFile(path);
  EXPECT_GE(bytes.size(), 2u);
  if (bytes.size() < 2) return {};
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xFE);
  std::u16string out;
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) out.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  return out;
}

TEST(HtmlWriter, TablesRowsAndDroppedCells) {
  test::TempDir dir;
  const std::string path = dir.file("out.html");
  HtmlWriter html;
  ASSERT_TRUE(html.open(path).has_value());
  html.addCell(0, "before any table");  // no table: dropped
  html.beginTable(2, "One", 2, 50, "CENTER");
  html.addCell(0, "a");
  html.addCell(2, "dropped");
  html.addCell(-1, "dropped");
  html.addCell(1, "b");
  html.endRow(true);
  html.beginTable(1, "Two");
  html.addCell(0, "c");
  html.addCell(1, "dropped");
  html.endRow(false);
  html.endRow(false);  // an empty row is still a line
  ASSERT_TRUE(html.close().has_value());
  EXPECT_EQ(readUtf16(path),
            u"<!DOCTYPE HTML PUBLIC -//W3C//DTD HTML 3.2//EN>\n<HTML>\n<HEAD>\n <TITLE>Norvale日志报告</TITLE>\n</HEAD>\n"
            u"<BODY BACKCOLOR=\"#FFFFFF\" TEXT=\"#000000\">\n"
            u"<TABLE WIDTH=\"50%\" BORDER=2 CELLSPACING=\"0\" ALIGN=\"CENTER\">\n"
            u"<CAPTION ALIGN=\"TOP\"><FONT size=\"5\">One</FONT></CAPTION>\n"
            u"<TR ALIGN=\"LEFT\"><TH BGCOLOR=\"#5065FF\"><FONT COLOR=\"#FFFFFF\">a<TH BGCOLOR=\"#5065FF\"><FONT COLOR=\"#FFFFFF\">b\n"
            u"</TABLE><br>\n"
            u"<TABLE WIDTH=\"100%\" BORDER=1 CELLSPACING=\"0\" ALIGN=\"LEFT\">\n"
            u"<CAPTION ALIGN=\"TOP\"><FONT size=\"5\">Two</FONT></CAPTION>\n"
            u"<TR ALIGN=\"LEFT\"><TD BGCOLOR=\"#FFFFFF\">c\n"
            u"<TR ALIGN=\"LEFT\">\n"
            u"</TABLE>\n</BODY>\n</HTML>");
}

TEST(HtmlWriter, LargeDocumentIsWrittenWhole) {
  test::TempDir dir;
  HtmlWriter html;
  ASSERT_TRUE(html.open(dir.file("big.html")).has_value());
  html.beginTable(1, "T");
  for (int i = 0; i < 20000; ++i) {
    html.addCell(0, "row " + std::to_string(i));
    html.endRow(false);
  }
  ASSERT_TRUE(html.close().has_value());
  const std::u16string text = readUtf16(dir.file("big.html"));
  EXPECT_NE(text.find(u"<TD BGCOLOR=\"#FFFFFF\">row 0\n<TR"), std::u16string::npos);
  EXPECT_NE(text.find(u"<TD BGCOLOR=\"#FFFFFF\">row 12345\n<TR"), std::u16string::npos);
  EXPECT_TRUE(text.ends_with(u"<TD BGCOLOR=\"#FFFFFF\">row 19999\n</TABLE>\n</BODY>\n</HTML>"));
}

TEST(HtmlWriter, OpenFailsInAMissingFolder) {
  test::TempDir dir;
  HtmlWriter html;
  EXPECT_FALSE(html.open(dir.file("missing/out.html")).has_value());
  EXPECT_FALSE(html.isOpen());
}

}  // namespace
}  // namespace norvale
