#pragma once

// Takes the current folder out of the library search for the whole process: libraries
// loaded by name (the packager library, the libraries they import) are then looked for in the
// executable's folder, the system folders and Path, never in the folder the process was
// started in, which is where callers put vendor files. Call it before anything is loaded by
// name.
void KeepCurrentFolderOutOfLibrarySearch();
