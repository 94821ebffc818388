// The JSON parser on any text, and the writer's escaping against the parser:
// - a parse never reads or writes outside the text and never fails a sanitizer;
// - Parse succeeds exactly when ParseText gives an object, IsJsonText when it gives anything;
// - the lookups of the members the provider reads keep their limits;
// - any text escaped with JsonEscape and put into a document reads back the same.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "json/CJsonParserBase.h"
#include "json/JsonEscape.h"

namespace {

// The members PBX answers, call events and token claims are read for.
const wchar_t* const kKeys[] = {L"uuid",  L"extension", L"caller",        L"callee",        L"state",
                                L"direction", L"access-token", L"refresh-token", L"expires-in", L"customer",
                                L"exp",   L"extensions", L"extension_number", L"name",       L"error", L""};

void CheckDocument(const std::wstring& sUnits) {
    const std::vector<wchar_t> text = FuzzTerminatedText(sUnits);
    CJsonParserBase parser;
    const BOOL bParsed = parser.Parse(text.data());
    const std::unique_ptr<JsonValue> pRoot = CJsonParserBase::ParseText(text.data());
    const bool bObject = pRoot != nullptr && pRoot->GetKind() == JsonValue::Object;
    if ((bParsed == TRUE) != bObject) FuzzFail("Parse succeeds exactly for an object root");
    if ((CJsonParserBase::IsJsonText(text.data()) == TRUE) != (pRoot != nullptr))
        FuzzFail("IsJsonText agrees with ParseText");

    for (const wchar_t* pszKey : kKeys) {
        if (parser.GetString(pszKey).size() > CJsonParserBase::MaxStringLength)
            FuzzFail("GetString keeps to MaxStringLength");
        parser.GetInt(pszKey);
        parser.GetBool(pszKey);
        if (!bParsed && (!parser.GetString(pszKey).empty() || parser.GetInt(pszKey) != 0 || parser.GetBool(pszKey)))
            FuzzFail("a failed parse leaves no members");
    }
}

void CheckEscapedString(const std::wstring& sUnits) {
    const std::wstring sDocument = L"{\"k\":\"" + JsonEscape(sUnits) + L"\"}";
    CJsonParserBase parser;
    if (!parser.Parse(sDocument.c_str())) FuzzFail("an escaped text gives a valid document");
    if (parser.GetString(L"k") != sUnits.substr(0, CJsonParserBase::MaxStringLength))
        FuzzFail("an escaped text reads back unchanged");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cb) {
    const std::wstring sUnits = FuzzUnits(pData, cb);
    CheckDocument(sUnits);
    CheckEscapedString(sUnits);
    return 0;
}
