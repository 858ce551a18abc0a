#pragma once
// The version every shipped file carries in its VERSIONINFO resource.
#define TALVENOR_PRODUCT_NAME "Talvenor Live"
#define TALVENOR_COMPANY_NAME "Talvenor Software"
#define TALVENOR_VERSION_NUMBERS 2, 1, 0, 0
#define TALVENOR_VERSION_TEXT "2.1.0"
#define TALVENOR_COPYRIGHT "Copyright (C) Talvenor Software"
