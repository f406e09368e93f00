// The native library's version information, the counterpart of the .flt's version resource: an ELF note
// (owner "kestrovan-vox", type 1) whose descriptor is the version string. Notes are mapped with the
// library, so kvox reads the version of the library it actually loaded without calling into it, and the
// library exports the host's 21 names and nothing else. `readelf -n` shows it.
#include <cstdint>

#include "kestrovan_vox_version.h"

namespace {

constexpr char Owner[] = "kestrovan-vox";
constexpr char Version[] = KVOX_VERSION_STRING;

constexpr uint32_t PaddedTo4(uint32_t size) { return (size + 3) / 4 * 4; }

// The layout of one ELF note: three 32-bit words, then the owner and the descriptor, each padded to 4 bytes.
struct VersionNote {
  uint32_t owner_size;
  uint32_t descriptor_size;
  uint32_t type;
  char owner[PaddedTo4(sizeof(Owner))];
  char descriptor[PaddedTo4(sizeof(Version))];
};
static_assert(sizeof(VersionNote) == 12 + 16 + PaddedTo4(sizeof(Version)), "an ELF note has no other padding");

// The section name makes the assembler give it the note type, and the linker puts it in a PT_NOTE segment.
[[gnu::section(".note.kestrovan_vox.version"), gnu::used, gnu::aligned(4)]] constexpr VersionNote LibraryVersionNote =
    [] {
      VersionNote note{sizeof(Owner), sizeof(Version), 1, {}, {}};
      for (uint32_t i = 0; i < sizeof(Owner); ++i) note.owner[i] = Owner[i];
      for (uint32_t i = 0; i < sizeof(Version); ++i) note.descriptor[i] = Version[i];
      return note;
    }();

}  // namespace
