#include "app/office_id_text.h"

#include <algorithm>

bool isOfficeId(std::string_view text) {
    return text.size() == kOfficeIdBytes * 2 && std::all_of(text.begin(), text.end(), [](char digit) {
               return (digit >= '0' && digit <= '9') || (digit >= 'a' && digit <= 'f');
           });
}
