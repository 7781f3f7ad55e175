#pragma once

#include <QString>

// The DNS domain this machine belongs to ("corp.example.com"), or empty when
// it has none: what completes the machine's short name in EHLO.
// LocalDomainName.cpp asks Qt's resolver; LocalDomainName_windows.cpp asks
// Windows, so the Windows build needs no Qt Network.
QString LocalDomainName();
