#pragma once

#include "startup/CompanySettings.h"

// The company settings are global and read once at start-up: a fixture
// holding one of these starts every test from the empty settings and leaves
// them empty after it.
struct FreshCompanySettings
{
    FreshCompanySettings() { CompanySettings = CompanySettingsValues(); }
    ~FreshCompanySettings() { CompanySettings = CompanySettingsValues(); }
};
