// A shared library of the consumer's with the static textmend library inside.
#include <textmend/textmend.hpp>


extern "C" __attribute__((visibility("default"))) std::size_t repair_to_utf8(const char* text,
                                                                              std::size_t size,
                                                                              char* out,
                                                                              std::size_t room) {
    const textmend::CheckedConversion r =
        textmend::convert(text, size, out, room, textmend::Target::utf8);
    return r.fits ? r.size : 0;
}
