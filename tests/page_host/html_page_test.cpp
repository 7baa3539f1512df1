// The page host's parser and property bag on their own: what a page's
// objects and parameters become, and where a page is refused.
#include "html_page.h"

#include <gtest/gtest.h>
#include <ocidl.h>
#include <windows.h>

#include <random>
#include <string>

#include "page_file.h"
#include "param_property_bag.h"

namespace orvex::page_host {
namespace {

constexpr wchar_t kClassId[] = L"{5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12}";

HtmlPage Parse(const std::wstring& text) {
  HtmlPage page;
  std::wstring error;
  EXPECT_TRUE(ParseHtmlPage(text, page, error)) << std::string(error.begin(), error.end());
  return page;
}

TEST(HtmlPage, QuotingCaseAndEntitiesOfObjectsAndParams) {
  const HtmlPage page = Parse(
      L"<html><head><TITLE>  Two\n  objects &amp; more </TITLE></head><body>\n"
      L"<OBJECT ID=first CLASSID=\"CLSID:5b3c2a71-8e4d-4f60-a1b2-6c7d8e9f0a12\" width='120' height=40px>\n"
      L"  <PARAM NAME=\"Info\" VALUE=\"A&amp;B|{x}|&lt;u&gt; &quot;q&quot; &#65;&#x42;&#x1F600;\">\n"
      L"  <param name='Other' value='it\"s'><param name=bare value=one/two>\n"
      L"</Object>\n"
      L"<object classid='clsid:{5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12}' width=50%><param name=Info value=\"\"></object>"
      L"</body></html>");
  EXPECT_EQ(page.title, L"Two objects & more");
  ASSERT_EQ(page.objects.size(), 2u);
  const PageObject& first = page.objects[0];
  EXPECT_EQ(first.classId, kClassId);
  EXPECT_EQ(first.id, L"first");
  EXPECT_EQ(first.width, 120);
  EXPECT_EQ(first.height, 40);
  ASSERT_EQ(first.params.size(), 3u);
  EXPECT_EQ(first.params[0].name, L"Info");
  EXPECT_EQ(first.params[0].value, L"A&B|{x}|<u> \"q\" AB\xD83D\xDE00");
  EXPECT_EQ(first.params[1].value, L"it\"s");
  EXPECT_EQ(first.params[2].value, L"one/two");
  const std::wstring* info = FindParam(first, L"INFO");
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(*info, first.params[0].value);
  EXPECT_EQ(FindParam(first, L"Missing"), nullptr);

  const PageObject& second = page.objects[1];
  EXPECT_EQ(second.classId, kClassId);
  EXPECT_EQ(second.width, 0) << "a percentage is no pixel size";
  ASSERT_EQ(second.params.size(), 1u);
  EXPECT_EQ(second.params[0].value, L"");
}

TEST(HtmlPage, UnknownAndBrokenReferencesStayAsTheyStand) {
  const HtmlPage page = Parse(
      L"<object classid=clsid:5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12>"
      L"<param name=a value='&copy; &amp &#; &#xZZ; &#0; &#x110000; &#99999999999999999999; &AMP;'></object>");
  ASSERT_EQ(page.objects.size(), 1u);
  EXPECT_EQ(page.objects[0].params[0].value, L"&copy; &amp &#; &#xZZ; \xFFFD \xFFFD \xFFFD &AMP;");
}

TEST(HtmlPage, OnlyObjectsWithAClassAreCreatedAndParamsBelongToTheirObject) {
  const HtmlPage page = Parse(
      L"<param name=Info value=outside>\n"
      L"<!-- <object classid=clsid:5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12></object> -->\n"
      L"<script>document.write('<object classid=clsid:5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12>')</script>\n"
      L"<object data=movie.swf><param name=Info value=noclass></object>\n"
      L"<object classid=\"java:Applet.class\"></object>\n"
      L"<object classid=clsid:5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A1></object>\n"
      L"<object classid=clsid:5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12><param name=Info value=outer>\n"
      L"  <object classid=clsid:00000000-0000-0000-0000-000000000001><param name=Info value=inner></object>\n"
      L"  <param value=nameless><param name=Later value=kept>\n"
      L"</object></object><param name=Info value=after>");
  ASSERT_EQ(page.objects.size(), 1u) << "comments, scripts, objects without a clsid, nested fallback";
  ASSERT_EQ(page.objects[0].params.size(), 2u);
  EXPECT_EQ(page.objects[0].params[0].value, L"outer");
  EXPECT_EQ(page.objects[0].params[1].name, L"Later");
  EXPECT_GE(page.notes.size(), 5u) << "each passed-over object and param is noted";
  EXPECT_TRUE(page.title.empty());
}

TEST(HtmlPage, TruncatedPagesKeepWhatWasComplete) {
  const std::wstring full =
      L"<title>T</title><object classid='clsid:5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12'>"
      L"<param name='Info' value='Product|{1}|http://h/'><param name='Second' value='2'></object>";
  // Every prefix of the page parses; the object appears once its start tag is whole.
  const std::size_t objectTagEnd = full.find(L"'>") + 2;
  for (std::size_t length = 0; length <= full.size(); ++length) {
    HtmlPage page;
    std::wstring error;
    ASSERT_TRUE(ParseHtmlPage(full.substr(0, length), page, error)) << length;
    EXPECT_EQ(page.objects.size(), length >= objectTagEnd ? 1u : 0u) << length;
    if (!page.objects.empty()) {
      for (const PageParam& param : page.objects[0].params) {
        EXPECT_TRUE(param.value == L"Product|{1}|http://h/" || param.value == L"2") << "no half value, " << length;
      }
    }
  }
  EXPECT_TRUE(Parse(L"<").objects.empty());
  EXPECT_TRUE(Parse(L"<object classid=").objects.empty());
  EXPECT_TRUE(Parse(L"<!-- never closed <object classid=clsid:5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12>").objects.empty());
  EXPECT_EQ(Parse(L"<title>open title <object></object>").title, L"open title <object></object>");
}

TEST(HtmlPage, BoundsRefuseThePageWhole) {
  const std::wstring object = L"<object classid=clsid:5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12>";
  HtmlPage page;
  std::wstring error;

  std::wstring many;
  for (std::size_t i = 0; i < kMaxObjects; ++i) many += object + L"</object>";
  EXPECT_TRUE(ParseHtmlPage(many, page, error));
  EXPECT_EQ(page.objects.size(), kMaxObjects);
  EXPECT_FALSE(ParseHtmlPage(many + object + L"</object>", page, error));
  EXPECT_NE(error.find(L"objects"), std::wstring::npos);

  std::wstring params = object;
  for (std::size_t i = 0; i < kMaxParamsPerObject; ++i) params += L"<param name=p value=v>";
  EXPECT_TRUE(ParseHtmlPage(params, page, error));
  EXPECT_FALSE(ParseHtmlPage(params + L"<param name=p value=v>", page, error));

  const std::wstring longest(kMaxValueLength, L'x');
  EXPECT_TRUE(ParseHtmlPage(object + L"<param name=Info value='" + longest + L"'>", page, error));
  EXPECT_EQ(page.objects[0].params[0].value.size(), kMaxValueLength);
  EXPECT_FALSE(ParseHtmlPage(object + L"<param name=Info value='" + longest + L"x'>", page, error));
  EXPECT_NE(error.find(L"param value"), std::wstring::npos);
  EXPECT_FALSE(ParseHtmlPage(object + L"<param name='" + std::wstring(kMaxNameLength + 1, L'n') + L"'>", page, error));

  // Long texts the host only shows or lays out are cut instead.
  EXPECT_TRUE(ParseHtmlPage(L"<title>" + std::wstring(5000, L't') + L"</title>" + object.substr(0, object.size() - 1) +
                                L" width=99999999999999 height=77>",
                            page, error));
  EXPECT_EQ(page.title.size(), kMaxTitleLength);
  EXPECT_EQ(page.objects[0].width, kMaxObjectExtent);
  EXPECT_EQ(page.objects[0].height, 77);
}

TEST(HtmlPage, PagesMadeOfRandomPiecesKeepEveryBound) {
  // Pieces of markup in random order and number: whatever the page, the
  // parser ends, and what it keeps stays within its bounds.
  const wchar_t* const pieces[] = {L"<object ",  L"<OBJECT classid=clsid:5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12 ",
                                   L"</object>", L"<param ",
                                   L"name=",     L"value=",
                                   L"'",         L"\"",
                                   L">",         L"/>",
                                   L"<",         L"&#x",
                                   L"&#",        L"&amp;",
                                   L"&",         L";",
                                   L"1F600",     L"99999999",
                                   L" ",         L"<!--",
                                   L"-->",       L"<title>",
                                   L"</title",   L"<script>",
                                   L"</script>", L"Info",
                                   L"x",         L"\xD800",
                                   L"width=",    L"height="};
  std::mt19937 random(20240601);
  std::uniform_int_distribution<std::size_t> pick(0, sizeof(pieces) / sizeof(pieces[0]) - 1);
  std::uniform_int_distribution<int> length(0, 400);
  int parsed = 0;
  std::size_t objects = 0;
  for (int round = 0; round < 3000; ++round) {
    std::wstring text;
    for (int i = length(random); i > 0; --i) text += pieces[pick(random)];
    HtmlPage page;
    std::wstring error;
    if (!ParseHtmlPage(text, page, error)) {
      EXPECT_FALSE(error.empty()) << "a refusal says which bound; round " << round;
      continue;
    }
    ++parsed;
    objects += page.objects.size();
    ASSERT_LE(page.objects.size(), kMaxObjects);
    EXPECT_LE(page.title.size(), kMaxTitleLength);
    for (const PageObject& object : page.objects) {
      EXPECT_EQ(object.classId.size(), 38u);
      EXPECT_LE(object.width, kMaxObjectExtent);
      EXPECT_LE(object.height, kMaxObjectExtent);
      EXPECT_LE(object.params.size(), kMaxParamsPerObject);
      for (const PageParam& param : object.params) {
        EXPECT_LE(param.name.size(), kMaxNameLength);
        EXPECT_LE(param.value.size(), kMaxValueLength);
      }
    }
  }
  EXPECT_GT(parsed, 2500) << "most random pages stay within the bounds";
  EXPECT_GT(objects, 1000u) << "the pieces make objects often enough to matter";
}

TEST(HtmlPage, ClassIdentifierForms) {
  std::wstring classId;
  EXPECT_TRUE(ClassIdFromAttribute(L" clsid: {5b3c2a71-8e4d-4f60-a1b2-6c7d8e9f0a12} ", classId));
  EXPECT_EQ(classId, kClassId);
  for (const wchar_t* bad :
       {L"5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12", L"clsid:{5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12",
        L"clsid:5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A1G", L"clsid:5B3C2A71+8E4D-4F60-A1B2-6C7D8E9F0A12", L"clsid:", L""}) {
    EXPECT_FALSE(ClassIdFromAttribute(bad, classId)) << std::string(bad, bad + wcslen(bad));
  }
}

TEST(HtmlPage, PageBytesDecodeAsUtf8Utf16OrAnsi) {
  std::wstring text;
  ASSERT_TRUE(
      DecodePageBytes("\xEF\xBB\xBF"
                      "caf\xC3\xA9",
                      text));
  EXPECT_EQ(text, L"caf\xE9");
  ASSERT_TRUE(DecodePageBytes(std::string("\xFF\xFE"
                                          "a\0\xE9\0",
                                          6),
                              text));
  EXPECT_EQ(text, L"a\xE9");
  ASSERT_TRUE(DecodePageBytes("caf\xC3\xA9", text));
  EXPECT_EQ(text, L"caf\xE9");
  ASSERT_TRUE(DecodePageBytes("caf\xE9", text)) << "not UTF-8: the ANSI code page";
  ASSERT_EQ(text.size(), 4u);
  EXPECT_EQ(text.substr(0, 3), L"caf");
}

// A property bag the test holds once; an error log that counts its entries.
class CountingErrorLog final : public IErrorLog {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (!::IsEqualIID(iid, IID_IUnknown) && !::IsEqualIID(iid, IID_IErrorLog)) return E_NOINTERFACE;
    *out = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE AddError(LPCOLESTR, EXCEPINFO* failure) override {
    ++errors;
    lastCode = failure->scode;
    return S_OK;
  }
  int errors = 0;
  SCODE lastCode = S_OK;
};

TEST(ParamPropertyBag, ReadsByNameWithoutCaseAndConvertsOnRequest) {
  int reads = 0;
  ParamPropertyBag* bag = ParamPropertyBag::Create(
      {{L"Info", L"Product|{1}|"}, {L"_cx", L"2540"}, {L"info", L"second"}, {L"Flag", L"maybe"}},
      [&reads](const std::wstring&, VARTYPE, HRESULT) { ++reads; });
  ASSERT_NE(bag, nullptr);

  VARIANT value;
  ::VariantInit(&value);
  ASSERT_EQ(bag->Read(L"INFO", &value, nullptr), S_OK);
  ASSERT_EQ(value.vt, VT_BSTR);
  EXPECT_STREQ(value.bstrVal, L"Product|{1}|") << "the first of that name";
  ::VariantClear(&value);

  value.vt = VT_UI4;  // the caller's requested type, nothing else set
  ASSERT_EQ(bag->Read(L"_cx", &value, nullptr), S_OK);
  EXPECT_EQ(value.vt, VT_UI4);
  EXPECT_EQ(value.ulVal, 2540u);

  CountingErrorLog errorLog;
  value.vt = VT_I4;
  EXPECT_EQ(bag->Read(L"Flag", &value, &errorLog), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(errorLog.errors, 1);
  EXPECT_EQ(errorLog.lastCode, DISP_E_TYPEMISMATCH);

  value.vt = VT_BSTR;
  value.bstrVal = nullptr;
  EXPECT_EQ(bag->Read(L"Missing", &value, &errorLog), E_INVALIDARG);
  EXPECT_EQ(value.vt, VT_BSTR) << "a missing name leaves the caller's variant alone";
  EXPECT_EQ(bag->Read(nullptr, &value, nullptr), E_POINTER);
  EXPECT_EQ(bag->Read(L"Info", nullptr, nullptr), E_POINTER);
  EXPECT_EQ(reads, 4) << "every read of a name is reported";

  VARIANT written;
  ::VariantInit(&written);
  written.vt = VT_I4;
  written.lVal = 7;
  EXPECT_EQ(bag->Write(L"_CX", &written), S_OK);
  value.vt = VT_I4;
  ASSERT_EQ(bag->Read(L"_cx", &value, nullptr), S_OK);
  EXPECT_EQ(value.lVal, 7);

  IPropertyBag* asked = nullptr;
  ASSERT_EQ(bag->QueryInterface(IID_IPropertyBag, reinterpret_cast<void**>(&asked)), S_OK);
  EXPECT_EQ(asked->Release(), 1u);
  IUnknown* none = nullptr;
  EXPECT_EQ(bag->QueryInterface(IID_IPropertyBag2, reinterpret_cast<void**>(&none)), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(bag->Release(), 0u);
}

}  // namespace
}  // namespace orvex::page_host
