#include "pbx/DeliveredEvents.h"

bool CDeliveredEvents::FirstDelivery(const std::wstring& sId) { return sId.empty() || m_ids.Insert(sId); }

void CDeliveredEvents::Forget() { m_ids.Clear(); }
