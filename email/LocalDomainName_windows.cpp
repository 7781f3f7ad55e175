// Platform-specific (Windows): the primary DNS suffix of the computer, the
// domain of the network it was joined to.

#include "email/LocalDomainName.h"

#include <windows.h>

#include <vector>

QString LocalDomainName()
{
    DWORD size = 0;
    ::GetComputerNameExW(ComputerNameDnsDomain, nullptr, &size);
    if (size == 0)
        return QString();
    std::vector<wchar_t> name(size);
    if (!::GetComputerNameExW(ComputerNameDnsDomain, name.data(), &size))
        return QString();
    return QString::fromWCharArray(name.data(), int(size));
}
