// A Windows 95/98 machine taken from its disk as it is, read-only: a raw disk image with an MBR
// partition table, a bare FAT volume, or a folder holding a copy of the drive's files. The disk's
// FAT is read with The Sleuth Kit, its registry files (SYSTEM.DAT, USER.DAT) with libcreg.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/machine.h"

namespace sandbox {

struct DiskRequest {
  std::string path;
  std::optional<int> partition;  // --partition N, 1 for the first of the partition table
  std::string user;              // --user NAME: the profile that HKEY_CURRENT_USER is
};

// What was found on the disk and where each piece came from, for the report.
struct DiskSource {
  std::string path;        // the disk, absolute
  std::string kind;        // "raw disk image", "FAT volume image" or "folder"
  std::string partition;   // "2 of 3: FAT32, 4,192,902 sectors from sector 63"; "" when not partitioned
  std::string fileSystem;  // "FAT16", "FAT32"; "" for a folder
  std::string windowsDirectory, windowsFrom;  // C:\WINDOWS, and how it was found
  std::vector<std::string> hives;             // "C:\WINDOWS\SYSTEM.DAT as HKEY_LOCAL_MACHINE", ...
  std::string release, releaseFrom;           // "4.10.1998", and the value it was read from
  std::string configuration, configurationFrom;
  std::string user, userFrom;
};

// The machine on the disk: the files of the Windows directory, the Start-menu folders and the
// INF folder (nothing else of the disk is read), the registry from SYSTEM.DAT and USER.DAT, the
// release from the registry. Throws sim::ImageError with a one-line reason that names what was
// looked for; nothing is ever written to the disk.
sim::Machine LoadDisk(const DiskRequest& request, DiskSource& source);

}  // namespace sandbox
