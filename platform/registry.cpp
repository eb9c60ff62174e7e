#include "platform/registry.h"

#include "platform/xml_io.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace {

char current_user_text[] = "HKEY_CURRENT_USER";
char local_machine_text[] = "HKEY_LOCAL_MACHINE";

bool is_root(HKEY key)
{
    return key == current_user_text || key == local_machine_text;
}

long open_key(HKEY root, char const* key, HKEY* result)
{
    if (result == nullptr) return corvella::registry_failed;
    *result = nullptr;
    if (root == nullptr || key == nullptr) return corvella::registry_failed;
    auto* handle = new (std::nothrow) char[corvella::registry_key_handle_size];
    if (handle == nullptr) return corvella::registry_failed;
    int const length = std::snprintf(handle, corvella::registry_key_handle_size, "%s\\%s", root, key);
    if (length < 0 || length >= corvella::registry_key_handle_size) {
        delete[] handle;
        return corvella::registry_failed;
    }
    *result = handle;
    return corvella::registry_ok;
}

} // namespace

HKEY const HKEY_CURRENT_USER = current_user_text;
HKEY const HKEY_LOCAL_MACHINE = local_machine_text;

long RegOpenKeyEx(HKEY root, char const* key, unsigned /*options*/, unsigned /*desired_access*/, HKEY* result)
{
    return open_key(root, key, result);
}

long RegCreateKeyEx(HKEY root, char const* key, unsigned /*reserved*/, char* /*key_class*/,
                    unsigned /*options*/, unsigned /*desired_access*/, void* /*security*/, HKEY* result,
                    unsigned* /*disposition*/)
{
    return open_key(root, key, result);
}

long RegQueryValueEx(HKEY key, char const* name, unsigned* /*reserved*/, unsigned* type, unsigned char* data,
                     unsigned* size)
{
    if (key == nullptr || name == nullptr) return corvella::registry_failed;
    // The capacity of a buffer must be known before anything is copied into it.
    if (data != nullptr && size == nullptr) return corvella::registry_failed;
    std::string value;
    {
        CXmlIO settings;
        if (!settings.GetValue(key, name, value)) return corvella::registry_failed;
    }
    unsigned const needed = static_cast<unsigned>(value.size() + 1);
    if (type != nullptr) *type = REG_SZ;
    if (data != nullptr) {
        if (*size < needed) {
            *size = needed;
            return corvella::registry_buffer_too_small;
        }
        std::memcpy(data, value.c_str(), needed);
    }
    if (size != nullptr) *size = needed;
    return corvella::registry_ok;
}

long RegSetValueEx(HKEY key, char const* name, unsigned /*reserved*/, unsigned /*type*/,
                   unsigned char const* data, unsigned size)
{
    if (key == nullptr || name == nullptr || data == nullptr) return corvella::registry_failed;
    auto const* text = reinterpret_cast<char const*>(data);
    std::string const value(text, strnlen(text, size));
    CXmlIO settings;
    return settings.SetValue(key, name, value.c_str()) ? corvella::registry_ok : corvella::registry_failed;
}

long RegCloseKey(HKEY key)
{
    if (key == nullptr) return corvella::registry_failed;
    if (!is_root(key)) delete[] key;
    return corvella::registry_ok;
}
