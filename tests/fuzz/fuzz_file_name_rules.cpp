// HasRefusedExtension and NamesDevice on any NUL-terminated text: nothing is
// read past the terminator, trailing dots and spaces never change the
// extension's verdict, and a device name is one in any folder.
#include <string>

#include "file_name_rules.h"
#include "fuzz_input.h"

namespace {

bool Check(const std::string &text, bool (*rule)(const char *))
{
    ExactCopy copy(text.c_str(), text.size() + 1);
    return rule((const char *)copy.data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096)
        return 0;
    std::string text((const char *)data, strnlen((const char *)data, size));

    bool refused = Check(text, HasRefusedExtension);
    FUZZ_CHECK(Check(text + ".", HasRefusedExtension) == refused);
    FUZZ_CHECK(Check(text + " . ", HasRefusedExtension) == refused);

    bool device = Check(text, NamesDevice);
    if (text.find_first_of("\\/:") == std::string::npos) {
        FUZZ_CHECK(Check("C:\\logs\\" + text, NamesDevice) == device);
        FUZZ_CHECK(Check("logs/" + text, NamesDevice) == device);
    }
    return 0;
}
