// The resource owners: each value given back exactly once, and the real
// owners closing for real.
#include <gtest/gtest.h>

#include <windows.h>
#include <winhttp.h>

#include <functional>
#include <typeinfo>
#include <utility>
#include <vector>

#include "common/UniqueHandle.h"
#include "common/UniqueRegKey.h"
#include "common/UniqueResource.h"
#include "http/UniqueInternetHandle.h"

namespace {

// Values given back, in order. 0 and -1 both hold nothing, as null and
// INVALID_HANDLE_VALUE do for kernel handles.
std::vector<int> g_released;

struct CountedTraits {
    static int Empty() { return 0; }
    static bool IsEmpty(int n) { return n == 0 || n == -1; }
    static void Release(int n) { g_released.push_back(n); }
};
using Owner = UniqueResource<int, CountedTraits>;

TEST(UniqueResourceTest, EachValueIsGivenBackOnceAndOnlyByItsLastOwner) {
    const struct { const char* pszName; std::function<void()> run; std::vector<int> released; } cases[] = {
        {"destroyed owner", [] { Owner a(1); }, {1}},
        {"empty owner", [] { Owner a; }, {}},
        {"second spelling of empty", [] { Owner a(-1); }, {}},
        {"moved-from owner gives back nothing", [] { Owner a(1); Owner b(std::move(a)); }, {1}},
        {"move onto a holding owner gives back its old value first",
         [] {
             Owner a(1);
             Owner b(2);
             b = std::move(a);
             g_released.push_back(100);  // marks the end of the scope
         },
         {2, 100, 1}},
        {"self move keeps the value", [] { Owner a(1); a = std::move(*&a); g_released.push_back(100); }, {100, 1}},
        {"reset gives back the old value at once",
         [] { Owner a(1); a.reset(2); g_released.push_back(100); }, {1, 100, 2}},
        {"reset to the value held gives back nothing twice", [] { Owner a(1); a.reset(1); }, {1}},
        {"reset twice", [] { Owner a(1); a.reset(); a.reset(); }, {1}},
        {"released value is the caller's", [] { Owner a(1); EXPECT_EQ(1, a.release()); }, {}},
        {"put gives back the old value and takes the new one",
         [] { Owner a(1); *a.put() = 2; g_released.push_back(100); }, {1, 100, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        g_released.clear();
        c.run();
        EXPECT_EQ(c.released, g_released);
    }
}

// The real owners close for real when reset, and not what they released
// (moves and the rest are the template's, checked above); both spellings of
// "nothing" hold nothing for kernel handles too.
template <typename OwnerType, typename Raw>
void CheckClosesForReal(Raw raw, bool (*isOpen)(Raw)) {
    SCOPED_TRACE(typeid(OwnerType).name());
    ASSERT_TRUE(isOpen(raw));
    EXPECT_EQ(raw, OwnerType(raw).release());
    EXPECT_TRUE(isOpen(raw)) << "released, yet closed";
    OwnerType(raw).reset();
    EXPECT_FALSE(isOpen(raw));
}

TEST(UniqueResourceTest, RealOwnersCloseWhatTheyHoldAndNothingElse) {
    EXPECT_FALSE(static_cast<bool>(UniqueFileHandle()));
    EXPECT_FALSE(static_cast<bool>(UniqueHandle(INVALID_HANDLE_VALUE)));
    CheckClosesForReal<UniqueHandle, HANDLE>(CreateEventW(nullptr, TRUE, FALSE, nullptr), [](HANDLE h) {
        DWORD dwFlags = 0;
        return GetHandleInformation(h, &dwFlags) != FALSE;
    });
    HKEY hKey = nullptr;
    RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &hKey);
    CheckClosesForReal<UniqueRegKey, HKEY>(hKey, [](HKEY h) {
        return RegQueryInfoKeyW(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr) == ERROR_SUCCESS;
    });
    CheckClosesForReal<UniqueInternetHandle, HINTERNET>(
        WinHttpOpen(L"owner test", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0),
        [](HINTERNET h) {
            DWORD dwTimeout = 0, cb = sizeof(dwTimeout);
            return WinHttpQueryOption(h, WINHTTP_OPTION_CONNECT_TIMEOUT, &dwTimeout, &cb) != FALSE;
        });
}

}  // namespace
