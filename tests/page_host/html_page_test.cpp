// The page host's parser on its own: what a page's objects and parameters
// become. Its refusals are the program's (PageHostFailures).
#include "html_page.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace orvex::page_host {
namespace {

constexpr wchar_t kClassId[] = L"{5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12}";
const std::wstring kObject = L"<object classid=clsid:5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12>";

// A parsed page whole: "title", then per object "\n{CLSID} id WxH name=value ...";
// or "refused: <why>".
std::wstring Describe(const std::wstring& html) {
  HtmlPage page;
  std::wstring text;
  if (!ParseHtmlPage(html, page, text)) return L"refused: " + text;
  text = page.title;
  for (const PageObject& object : page.objects) {
    text += L"\n" + object.classId + L" " + object.id + L" " + std::to_wstring(object.width) + L"x" +
            std::to_wstring(object.height);
    for (const PageParam& param : object.params) text += L" " + param.name + L"=" + param.value;
  }
  return text;
}

// Only objects of a clsid:GUID class are created, not those in comments,
// scripts or nested as fallback; params belong to their object; character
// references are decoded; a percentage is no pixel size.
TEST(HtmlPage, ObjectsAndTheirParams) {
  EXPECT_EQ(Describe(
                L"<TITLE>  Two\n  objects &amp; more </TITLE><param name=Info value=outside>\n"
                L"<!-- <object classid=clsid:5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12></object> -->\n"
                L"<script>document.write('<object classid=clsid:5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12>')</script>\n"
                L"<object data=movie.swf><param name=Info value=noclass></object>\n"
                L"<object classid=\"java:Applet.class\"></object><object classid=clsid:></object>\n"
                L"<object classid=5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12></object>\n"
                L"<object classid=clsid:5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A1G></object>\n"
                L"<OBJECT ID=first CLASSID=' CLSID: {5b3c2a71-8e4d-4f60-a1b2-6c7d8e9f0a12} ' width='120' height=40px>"
                L"<PARAM NAME=\"Info\" VALUE=\"A|{x}|\"><param name='Other' value='it\"s'>\n"
                L"  <object classid=clsid:00000000-0000-0000-0000-000000000001><param name=Info value=inner></object>\n"
                L"  <param value=nameless><param name=Later value=one/two>\n"
                L"</object></object><param name=Info value=after>" +
                kObject.substr(0, kObject.size() - 1) +
                L" width=50%><param name=a value='&amp;|&lt;u&gt;|&quot;&apos;&nbsp;|&#65;&#x42;&#x1F600;'>"),
            std::wstring(L"Two objects & more\n") + kClassId + L" first 120x40 Info=A|{x}| Other=it\"s Later=one/two\n" +
                kClassId + L"  0x0 a=&|<u>|\"'\xA0|AB\xD83D\xDE00");
}

}  // namespace
}  // namespace orvex::page_host
