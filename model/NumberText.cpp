#include "model/NumberText.h"

namespace {
constexpr unsigned kMaxRewrittenChars = 18;

unsigned Length(const WCHAR* psz, unsigned cchMax) {
    unsigned n = 0;
    while (n < cchMax && psz[n] != L'\0') ++n;
    return n;
}

// Moves cch characters from pszFrom to the front of pszNumber (never further
// right, so the move is safe in place) and terminates.
void KeepOnly(WCHAR* pszNumber, const WCHAR* pszFrom, unsigned cch) {
    if (cch > kMaxRewrittenChars) cch = kMaxRewrittenChars;
    for (unsigned i = 0; i < cch; ++i) pszNumber[i] = pszFrom[i];
    pszNumber[cch] = L'\0';
}

// "N<name><number>..." style entries carry the number between angle brackets.
void TakeBracketedNumber(WCHAR* pszNumber) {
    unsigned cch = Length(pszNumber, kDialBufferChars);
    unsigned open = 0;
    while (open < cch && pszNumber[open] != L'<') ++open;
    if (open == cch) return;
    unsigned close = open + 1;
    while (close < cch && pszNumber[close] != L'>') ++close;
    if (close == cch) return;
    KeepOnly(pszNumber, pszNumber + open + 1, close - open - 1);
}

bool IsDialable(WCHAR ch) { return (ch >= L'0' && ch <= L'9') || ch == L'#'; }
}  // namespace

void CleanNumber(WCHAR* pszNumber) {
    if (pszNumber == nullptr) return;
    if (pszNumber[0] == L'N')
        TakeBracketedNumber(pszNumber);
    else if (pszNumber[0] == L'T')
        KeepOnly(pszNumber, pszNumber + 1, Length(pszNumber + 1, kDialBufferChars - 1));

    // International numbers are passed on as typed; the PBX understands them.
    if (pszNumber[0] == L'+') return;

    unsigned to = 0;
    for (unsigned from = 0; from < kDialBufferChars - 1 && pszNumber[from] != L'\0'; ++from)
        if (IsDialable(pszNumber[from])) pszNumber[to++] = pszNumber[from];
    pszNumber[to] = L'\0';
}

int ChangeNumberToForward(WCHAR*) { return 0; }

int CompareSlotText(const WCHAR* pszSlot, const WCHAR* pszText, unsigned cchSlot) {
    const WCHAR* pszNew = pszText != nullptr ? pszText : L"";
    for (unsigned i = 0; i < cchSlot; ++i) {
        if (pszSlot[i] != pszNew[i]) return 1;
        if (pszSlot[i] == L'\0') return 0;
    }
    return 0;
}
