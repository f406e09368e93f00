#include "host/version.h"

#include <dlfcn.h>
#include <link.h>

#include <cstdint>
#include <cstring>
#include <filesystem>

#include "kestrovan_vox_version.h"
#include "plugin/filter_api.h"

namespace {

// The note resources/version_note.cpp puts in the plug-in library.
constexpr char NoteOwner[] = "kestrovan-vox";
constexpr uint32_t VersionNoteType = 1;

size_t AlignedUp(size_t size, size_t alignment) { return (size + alignment - 1) / alignment * alignment; }

// The version in one note segment, or empty. Notes are read with the segment's own alignment (4, or 8 in a
// segment of 8-byte aligned notes), as the loader lays them out.
std::string VersionInNotes(const unsigned char* notes, size_t size, size_t alignment) {
  size_t offset = 0;
  while (size - offset >= 12) {
    uint32_t owner_size = 0, descriptor_size = 0, type = 0;
    std::memcpy(&owner_size, notes + offset, 4);
    std::memcpy(&descriptor_size, notes + offset + 4, 4);
    std::memcpy(&type, notes + offset + 8, 4);
    const size_t owner_at = offset + 12;
    const size_t descriptor_at = owner_at + AlignedUp(owner_size, alignment);
    const size_t next = descriptor_at + AlignedUp(descriptor_size, alignment);
    if (next > size) break;
    if (type == VersionNoteType && owner_size == sizeof(NoteOwner) &&
        std::memcmp(notes + owner_at, NoteOwner, sizeof(NoteOwner)) == 0) {
      const char* text = reinterpret_cast<const char*>(notes + descriptor_at);
      return std::string(text, strnlen(text, descriptor_size));
    }
    offset = next;
  }
  return {};
}

int LookForVersionNote(dl_phdr_info* object, size_t, void* found) {
  for (ElfW(Half) i = 0; i < object->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = object->dlpi_phdr[i];
    if (segment.p_type != PT_NOTE) continue;
    const auto* notes = reinterpret_cast<const unsigned char*>(object->dlpi_addr + segment.p_vaddr);
    std::string version = VersionInNotes(notes, segment.p_memsz, segment.p_align > 4 ? segment.p_align : 4);
    if (version.empty()) continue;
    auto& plugin = *static_cast<LoadedPlugin*>(found);
    plugin.version = version;
    plugin.path = std::filesystem::path(object->dlpi_name).lexically_normal().string();
    return 1;
  }
  return 0;
}

}  // namespace

LoadedPlugin FindLoadedPlugin() {
  LoadedPlugin plugin;
  dl_iterate_phdr(LookForVersionNote, &plugin);
  if (plugin.version.empty()) {
    // A library without the note (an older build): name it all the same, from the export kvox calls first.
    Dl_info where{};
    if (dladdr(reinterpret_cast<void*>(&QueryMirlFilter), &where) != 0 && where.dli_fname != nullptr) {
      plugin.path = std::filesystem::path(where.dli_fname).lexically_normal().string();
    }
  }
  return plugin;
}

std::string VersionReport() {
  const LoadedPlugin plugin = FindLoadedPlugin();
  std::string report = "kvox " KVOX_VERSION_STRING "\nplug-in ";
  report += plugin.version.empty() ? "version unknown (the library carries no version note)" : plugin.version;
  if (!plugin.path.empty()) report += " (" + plugin.path + ")";
  return report;
}
