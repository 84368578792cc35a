// Firmware version 60: the complete built-in reading of clock, parameters, days and months.
#pragma once

#include "protocol/utv540.h"

namespace protocol {

class CTV540v60 : public CTV540 {
  public:
    using CTV540::CTV540;

    std::uint32_t CommandPause() const override { return 70; }
    unsigned HourRecordSize() const override { return 58; }

    // Writes a complete data file. `onlyPeriod`: the operator asked for the reporting period
    // only, so months and hours are left out.
    void ReadVersion60(DataFile& file, bool readHourly, ArchiveProgress& progress,
                       const platform::IniFile& settings, bool onlyPeriod = false);

  protected:
    // The daily (62 days) and monthly (24 months) channel records.
    void ReadDailyArchive(DataFile& file, ArchiveProgress& progress, const DeviceClock& clock);
    void ReadMonthlyArchive(DataFile& file, ArchiveProgress& progress, const DeviceClock& clock);
    void WriteParameters(DataFile& file, ArchiveProgress& progress);
};

}  // namespace protocol
