// Helpers shared by the browse and the open-file operations.
#pragma once

#include <cstdint>

// Initialises the library state; 0 when a session is established, else -5
// "not connected".
int32_t vnb_require_session();

// Splits a share-qualified path for the operations that name a location:
// -6 "empty share name" for NULL or "", else vnsmb1c_split_path with the
// share and the canonical rest.
int32_t vnb_split_located(const char *path, char (&share)[82], char (&rest)[1026]);
