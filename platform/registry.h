#pragma once

// Registry-style access to the values of the settings file (see CXmlIO for the file itself).
//
// A key handle is a heap buffer of 1024 characters holding the root's text + "\" + the key path
// ("HKEY_CURRENT_USER\SOFTWARE\Tarnwick\Corvella"). The two roots are fixed handles whose text is
// "HKEY_CURRENT_USER" and "HKEY_LOCAL_MACHINE"; they are never freed. Every query and every
// write loads the settings file again.
//
// Results: 0 on success; 1 when the value does not exist or an argument is unusable (null handle
// or name, a key path that does not fit the handle, a name the file cannot hold, a file that
// cannot be written); 2 when a query's buffer is too small for the value.
//
// Threading: safe from any thread; each call takes the settings-file lock while it runs.

using HKEY = char*;

extern HKEY const HKEY_CURRENT_USER;
extern HKEY const HKEY_LOCAL_MACHINE;

// Value types; every value is stored as text whatever type the writer names.
inline constexpr unsigned REG_SZ = 1;
inline constexpr unsigned REG_DWORD = 4;

namespace corvella {
inline constexpr long registry_ok = 0;
inline constexpr long registry_failed = 1;
inline constexpr long registry_buffer_too_small = 2;
inline constexpr int registry_key_handle_size = 1024;
} // namespace corvella

// Both allocate the handle root + "\" + key into *result.
long RegOpenKeyEx(HKEY root, char const* key, unsigned options, unsigned desired_access, HKEY* result);
long RegCreateKeyEx(HKEY root, char const* key, unsigned reserved, char* key_class, unsigned options,
                    unsigned desired_access, void* security, HKEY* result, unsigned* disposition);

// Reads a value. When it exists: *type (if given) becomes REG_SZ, *size (if given) becomes the
// text length + 1, and when `data` is given the text and its terminating zero are copied into it;
// *size must then give the buffer's capacity (too small: result 2, *size = the capacity needed).
long RegQueryValueEx(HKEY key, char const* name, unsigned* reserved, unsigned* type, unsigned char* data,
                     unsigned* size);

// Stores `data` as text: the first `size` bytes, up to the first zero byte.
long RegSetValueEx(HKEY key, char const* name, unsigned reserved, unsigned type, unsigned char const* data,
                   unsigned size);

// Frees a handle made by RegOpenKeyEx or RegCreateKeyEx; the roots are left alone. 1 for null.
long RegCloseKey(HKEY key);
