// The version of every file of the product: the one place the version resources take it from.
#pragma once

#define TACTRA_VERSION_NUMBERS 1, 0, 0, 0
#define TACTRA_VERSION_TEXT "1.0.0.0"
