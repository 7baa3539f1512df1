// The page host's parser on its own: what a page's objects and parameters
// become, and where a page is refused.
#include "html_page.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "page_file.h"

namespace orvex::page_host {
namespace {

constexpr wchar_t kClassId[] = L"{5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12}";
const std::wstring kObject = L"<object classid=clsid:5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12>";

HtmlPage Parse(const std::wstring& text) {
  HtmlPage page;
  std::wstring error;
  EXPECT_TRUE(ParseHtmlPage(text, page, error)) << std::string(error.begin(), error.end());
  return page;
}

// A parsed page whole: "title", then per object "\n{CLSID} id WxH name=value ...".
std::wstring Describe(const HtmlPage& page) {
  std::wstring text = page.title;
  for (const PageObject& object : page.objects) {
    text += L"\n" + object.classId + L" " + object.id + L" " + std::to_wstring(object.width) + L"x" +
            std::to_wstring(object.height);
    for (const PageParam& param : object.params) text += L" " + param.name + L"=" + param.value;
  }
  return text;
}

TEST(HtmlPage, ObjectsAndParamsInAnyQuotingAndCase) {
  const HtmlPage page = Parse(
      L"<html><head><TITLE>  Two\n  objects &amp; more </TITLE></head><body>\n"
      L"<OBJECT ID=first CLASSID=\"CLSID:5b3c2a71-8e4d-4f60-a1b2-6c7d8e9f0a12\" width='120' height=40px>\n"
      L"  <PARAM NAME=\"Info\" VALUE=\"A|{x}|\"><param name='Other' value='it\"s'><param name=bare value=one/two>\n"
      L"</Object>\n"
      L"<object classid='clsid:{5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12}' width=50%><param name=Info value=\"\"></object>"
      L"</body></html>");
  EXPECT_EQ(Describe(page), std::wstring(L"Two objects & more\n") + kClassId +
                                L" first 120x40 Info=A|{x}| Other=it\"s bare=one/two\n" + kClassId +
                                L"  0x0 Info=");  // a percentage is no pixel size
  ASSERT_EQ(page.objects.size(), 2u);
  EXPECT_EQ(FindParam(page.objects[0], L"INFO"), &page.objects[0].params[0].value);
  // Character references are decoded.
  EXPECT_EQ(Describe(Parse(kObject + L"<param name=a value='&amp;|&lt;u&gt;|&quot;&apos;&nbsp;|&#65;&#x42;"
                                     L"&#x1F600;'>")),
            std::wstring(L"\n") + kClassId + L"  0x0 a=&|<u>|\"'\xA0|AB\xD83D\xDE00");
}

TEST(HtmlPage, OnlyObjectsWithAClassAreCreatedAndParamsBelongToTheirObject) {
  const HtmlPage page = Parse(
      L"<param name=Info value=outside>\n"
      L"<!-- <object classid=clsid:5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12></object> -->\n"
      L"<script>document.write('<object classid=clsid:5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12>')</script>\n"
      L"<object data=movie.swf><param name=Info value=noclass></object>\n"
      L"<object classid=\"java:Applet.class\"></object><object classid=clsid:></object>\n"
      L"<object classid=5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12></object>\n"
      L"<object classid=clsid:5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A1G></object>\n"
      L"<object classid=' clsid: {5b3c2a71-8e4d-4f60-a1b2-6c7d8e9f0a12} '><param name=Info value=outer>\n"
      L"  <object classid=clsid:00000000-0000-0000-0000-000000000001><param name=Info value=inner></object>\n"
      L"  <param value=nameless><param name=Later value=kept>\n"
      L"</object></object><param name=Info value=after>");
  // Not created: comments, scripts, objects without a clsid:GUID class, nested fallback.
  EXPECT_EQ(Describe(page), std::wstring(L"\n") + kClassId + L"  0x0 Info=outer Later=kept");
  EXPECT_GE(page.notes.size(), 9u) << "each passed-over object and param is noted";
}

TEST(HtmlPage, BoundsRefuseThePageWholeAndCutOnlyWhatIsShown) {
  std::wstring objects, params = kObject, error;
  for (std::size_t i = 0; i < kMaxObjects; ++i) objects += kObject + L"</object>";
  for (std::size_t i = 0; i < kMaxParamsPerObject; ++i) params += L"<param name=p value=v>";
  const std::wstring value(kMaxValueLength, L'x'), name(kMaxNameLength, L'n');
  EXPECT_EQ(Parse(objects).objects.size(), kMaxObjects);
  EXPECT_EQ(Parse(params).objects[0].params.size(), kMaxParamsPerObject);
  EXPECT_EQ(Parse(kObject + L"<param name=Info value='" + value + L"'>").objects[0].params[0].value, value);
  EXPECT_EQ(Parse(kObject + L"<param name='" + name + L"'>").objects[0].params[0].name, name);
  // One more object, parameter or character, and the refusal says which bound.
  const std::pair<std::wstring, const wchar_t*> over[] = {
      {objects + kObject, L"objects"},
      {params + L"<param name=p value=v>", L"parameters"},
      {kObject + L"<param name=Info value='x" + value + L"'>", L"param value"},
      {kObject + L"<param name='n" + name + L"'>", L"param name"},
      {L"<object id='x" + value + L"'>", L"id"}};
  for (const auto& [text, bound] : over) {
    HtmlPage page;
    EXPECT_FALSE(ParseHtmlPage(text, page, error)) << bound;
    EXPECT_NE(error.find(bound), std::wstring::npos) << bound;
  }
  // Long texts the host only shows or lays out are cut instead.
  const HtmlPage page = Parse(L"<title>" + std::wstring(5000, L't') + L"</title>" +
                              kObject.substr(0, kObject.size() - 1) + L" width=99999999999999 height=77>");
  EXPECT_EQ(Describe(page), std::wstring(kMaxTitleLength, L't') + L"\n" + kClassId + L"  " +
                                std::to_wstring(kMaxObjectExtent) + L"x77");
}

TEST(HtmlPage, PageBytesDecodeAsUtf8Utf16OrAnsi) {
  const std::string marked8 = "\xEF\xBB\xBF" "caf\xC3\xA9", marked16("\xFF\xFE" "c\0a\0f\0\xE9\0", 10);
  for (const std::string& bytes : {marked8, marked16, std::string("caf\xC3\xA9")}) {
    std::wstring text;
    ASSERT_TRUE(DecodePageBytes(bytes, text));
    EXPECT_EQ(text, L"caf\xE9");
  }
  std::wstring text;
  ASSERT_TRUE(DecodePageBytes("caf\xE9", text)) << "not UTF-8: the ANSI code page";
  ASSERT_EQ(text.size(), 4u);
  EXPECT_EQ(text.substr(0, 3), L"caf");
}

}  // namespace
}  // namespace orvex::page_host
