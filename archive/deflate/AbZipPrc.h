// Compressing one new ZIP item while the archive is saved: the two insert
// hooks the zipper plugs into a TAbZipArchive. Each reads the source, stores
// or deflates it (encrypting it when the archive has a password), writes the
// item's bytes into OutStream and fills the item's header fields; the save
// cycle writes the records afterwards.
#pragma once

#include "archive/AbArcTyp.h"
#include "platform/Classes.h"

// InsertHook of a TAbZipArchive: compresses the file named by Item.DiskPath
// (resolved against the archive's BaseDirectory). The item gets the file's
// attributes and DOS time. The current directory is restored also on
// failure; a file that cannot be opened raises EFOpenError, a BaseDirectory
// that cannot be entered EInOutError. Sender must be a TAbZipArchive and Item
// a TAbZipItem (contract).
void CompressFileItem(TAbArchive& Sender, TAbArchiveItem& Item, TStream& OutStream);

// The stream road: compresses InStream from its current position to its end
// into OutStream (empty on entry). An item whose source is not a file stream
// gets the current local time and attributes 0. Failures: EAbUserAbort (stop
// during a plain copy), EAbAbortProgress (stop while deflating),
// EAbDeflateError, stream errors; OutStream then receives nothing.
void CompressStreamItem(TAbArchive& Sender, TAbArchiveItem& Item, TStream& OutStream,
                        TStream& InStream);
