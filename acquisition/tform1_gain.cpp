// Channel gains through the calibration table digpot.cfg and two potentiometers per
// channel.

#include "tform1.h"

#include "gain_table.h"
#include "runtime_error.h"
#include "text_io.h"

#include <algorithm>
#include <sys/stat.h>

void TForm1::LoadGainTable()
{
    // A FIFO would hold start-up, before the window is ever shown, until something
    // writes to it; it is no table, and neither is a socket: refused as a folder is.
    struct stat info {};
    if (::stat(gain::FileName, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)))
        throw rt::InOutError(rt::io::InvalidFilename);
    rt::TextReader reader;
    reader.open(gain::FileName);
    // A failure ends the load here; rows read so far keep their values.
    gain::read(reader, GainTable);
    reader.close();
}

int32_t TForm1::GainPotA(int32_t gainDb, int32_t channel) const
{
    return gain::lookup(GainTable, gainDb, gain::potA(channel));
}

int32_t TForm1::GainPotB(int32_t gainDb, int32_t channel) const
{
    return gain::lookup(GainTable, gainDb, gain::potB(channel));
}

void TForm1::SetChannelGain(int32_t channel, int32_t gainDb)
{
    // The channel gets the highest gain at or below the request that it can take.
    const auto setting = gain::settingFor(GainTable, channel, gainDb);
    const int32_t c = std::clamp(channel, gain::MinChannel, gain::MaxChannel);
    if (c <= int32_t(FrontEndSent.channels.size())) {
        meta::ChannelGainSent& sent = FrontEndSent.channels[size_t(c - 1)];
        sent.requestedGainDb = gainDb;
        sent.tableGainDb = setting ? std::optional<int32_t>(setting->gainDb) : std::nullopt;
    }
    // A channel that cannot take even 3 dB keeps its potentiometers as they are.
    if (!setting)
        return;
    SetPot(gain::potA(c), setting->a);
    SetPot(gain::potB(c), setting->b);
}
