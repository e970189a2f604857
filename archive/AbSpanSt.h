// TAbSpanStream: how an archive sees its file. For a single file it is a thin
// wrapper that refuses relative names and reports save progress; for a
// spanned set it moves between the volume files (set.zip, set.z01, set.z02...)
// or the disks of a removable drive.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Classes.h"

enum TAbSpanDirection { sdReading, sdWriting };
enum TAbMediaKind { mkRemovable, mkFixed };

class TAbSpanStream;

// Asked for the name of volume `imageNumber`; `imageName` comes in as the
// proposal and may be changed; setting `abort` cancels the volume change.
using TAbSpanImageRequest = std::function<void(TAbSpanStream& sender, int32_t imageNumber,
                                               std::string& imageName, bool& abort)>;
// Told the percentage written; setting `abort` makes the write report 0 bytes.
using TAbSpanProgress = std::function<void(uint8_t progress, bool& abort)>;

class TAbSpanStream : public TStream {
 public:
  // Opens (or with fmCreate creates) `fileName`, which must be a full path
  // (EAbException "Full Path Required"). Mode fmCreate or any mode with write
  // access (bit 0) makes a writing stream; every other mode a reading one.
  // Writing where the free space is unknown onto an existing file raises
  // EAbException "Invalid Media". `threshold` is the largest volume size, 0
  // for no limit. Platform open errors propagate.
  TAbSpanStream(const std::string& fileName, int32_t threshold, TAbMediaKind mediaKind,
                uint16_t fileMode);
  ~TAbSpanStream() override;
  TAbSpanStream(const TAbSpanStream&) = delete;
  TAbSpanStream& operator=(const TAbSpanStream&) = delete;

  // Reads from the current volume; a read that starts at its end moves to the
  // next volume first when OnImageRequest is set and DirectMode is off
  // (EAbUserAbort when the request is cancelled, EAbFileNotFound when the
  // named volume is missing). A read never crosses a volume end.
  int32_t Read(void* buffer, int32_t count) override;
  // Writing only (a reading stream writes nothing and answers 0). With a
  // threshold or on removable media, moves to the next volume when the current
  // one is full. Answers 0 when OnProgress asks to abort.
  int32_t Write(const void* buffer, int32_t count) override;
  // Writing: does not move; answers the position. Reading: inside the current
  // volume, or into a neighbouring one through OnImageRequest; without it a
  // target outside the volume leaves the position unchanged.
  int64_t Seek(int64_t offset, int origin) override;
  // Size of the current volume.
  int64_t Size() override;
  // 0 empties the volume; otherwise its size becomes the smaller of `newSize`
  // and its size plus the drive's free space.
  void SetSize(int64_t newSize) override;

  // Bytes that may still be written to the current volume (-1 when unknown).
  int64_t BytesAvailable();
  // Writing: closes this volume and creates the next (EAbUserAbort when the
  // request is cancelled). Reading: opens the next volume (EAbException
  // "Cannot open spanned file: NAME" when it is missing).
  void NextVolume();
  // Notes the free space of `name`'s drive in FreeAtOpen; false only when it is
  // unknown and the file `name` exists.
  bool CheckMedia(const std::string& name);

  TAbSpanDirection Direction() const { return FDirection; }
  TAbMediaKind MediaKind() const { return FMediaKind; }
  int32_t Threshold() const { return FThreshold; }
  int32_t VolumeNumber() const { return FVolumeNumber; }
  const std::string& VolumeName() const { return FVolumeName; }
  bool Cancelled() const { return FCancelled; }
  int64_t VolumeBytes() const { return FVolumeBytes; }
  int32_t FreeAtOpen() const { return FFreeAtOpen; }
  uint16_t FileMode() const { return FFileMode; }
  bool DirectMode() const { return FDirectMode; }
  void SetDirectMode(bool value) { FDirectMode = value; }
  bool SwitchedOnRead() const { return FSwitchedOnRead; }
  void SetSwitchedOnRead(bool value) { FSwitchedOnRead = value; }
  int64_t TotalWritten() const { return FTotalWritten; }
  int64_t TotalSize() const { return FTotalSize; }
  void SetTotalSize(int64_t value) { FTotalSize = value; }

  TAbSpanImageRequest OnImageRequest;
  TAbSpanProgress OnProgress;

 private:
  bool LimitedVolumes() const { return FMediaKind == mkRemovable || FThreshold > 0; }
  int32_t WriteSpanned(const uint8_t* bytes, int32_t count);
  // Closes the current volume and opens volume `number` for reading, named by OnImageRequest.
  void OpenReadVolume(int32_t number, bool missingIsNotFound);
  std::string ProposedVolumeName(int32_t number) const;

  TAbSpanDirection FDirection = sdReading;
  TAbMediaKind FMediaKind = mkFixed;
  int32_t FThreshold = 0;
  int32_t FVolumeNumber = 0;
  std::string FVolumeName;
  bool FCancelled = false;
  int64_t FVolumeBytes = 0;
  int32_t FFreeAtOpen = 0;
  std::unique_ptr<TFileStream> FInner;
  uint16_t FFileMode = 0;
  bool FDirectMode = false;
  bool FSwitchedOnRead = false;
  int64_t FTotalWritten = 0;
  int64_t FTotalSize = 0;
};
