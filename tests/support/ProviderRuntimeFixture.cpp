#include "support/ProviderRuntimeFixture.h"

const char kRuntimeAccount[] = R"({"customer": "c-orvo-demo-4711",
  "users": [{"name": "lena.muster", "password": "Demo-Pass-2024"}, {"name": "max.muster", "password": "Max-Pass-1"}],
  "extensions": [{"extension_number": "21", "name": "Office"}, {"extension_number": "22", "name": "Reception"},
                 {"extension_number": "23", "name": "Lab"}]})";

CSharedSettingsView::CSharedSettingsView() {
    m_hMapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, TestedProviderSection().c_str());
    if (m_hMapping == nullptr) return;
    m_pSettings =
        static_cast<ProviderSettings*>(MapViewOfFile(m_hMapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(ProviderSettings)));
}

CSharedSettingsView::~CSharedSettingsView() {
    if (m_pSettings != nullptr) UnmapViewOfFile(m_pSettings);
    if (m_hMapping != nullptr) CloseHandle(m_hMapping);
}
