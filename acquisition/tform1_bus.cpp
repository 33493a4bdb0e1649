// The front-end's parallel bus on two of the board's digital ports. Between
// primitives the data port is an input and the address port shows the idle address;
// every primitive returns with the bus so.

#include "tform1.h"

#include "frontend_protocol.h"
#include "settle_clock.h"
#include "settle_wait.h"

using namespace frontend;

void TForm1::SettleWait(double interval)
{
    // No window events are handled meanwhile: the bus must not be re-entered.
    settle::waitAtLeast(clock_, settle::daysToNs(interval));
}

int TForm1::BusWrite(const std::vector<std::pair<uint16_t, uint16_t>>& pairs, bool* allSent)
{
    bool sent = cbDConfigPort(DioBoardNum, DataPort, DIGITALOUT) == CBW_NOERRORS;
    for (const auto& [address, byte] : pairs) {
        // The byte is on the lines before the address selects the register and stays
        // there until the address is back at idle.
        sent &= cbDOut(DioBoardNum, DataPort, byte) == CBW_NOERRORS;
        sent &= cbDOut(DioBoardNum, AddressPort, address) == CBW_NOERRORS;
        SettleWait(SettleInterval);
        sent &= cbDOut(DioBoardNum, AddressPort, AddrIdle) == CBW_NOERRORS;
    }
    // Back to input at once, so the front-end may drive the lines.
    const int result = cbDConfigPort(DioBoardNum, DataPort, DIGITALIN);
    if (allSent)
        *allSent = sent && result == CBW_NOERRORS;
    return result;
}

uint16_t TForm1::BusRead(uint16_t address)
{
    // The data port is already an input; the front-end needs three intervals to
    // drive the selected register onto it.
    cbDOut(DioBoardNum, AddressPort, address);
    SettleWait(SettleInterval);
    SettleWait(SettleInterval);
    SettleWait(SettleInterval);
    uint16_t word = 0;  // what a read the library cannot perform yields
    cbDIn(DioBoardNum, DataPort, &word);
    cbDOut(DioBoardNum, AddressPort, AddrIdle);
    SettleWait(SettleInterval);
    return word;
}

bool TForm1::PotFrame(uint16_t byte, bool trailingWait)
{
    bool sent = cbDConfigPort(DioBoardNum, DataPort, DIGITALOUT) == CBW_NOERRORS;
    sent &= cbDOut(DioBoardNum, DataPort, PotFrameRest) == CBW_NOERRORS;
    sent &= cbDOut(DioBoardNum, AddressPort, AddrPot) == CBW_NOERRORS;
    SettleWait(SettleInterval);
    sent &= cbDOut(DioBoardNum, DataPort, byte) == CBW_NOERRORS;
    SettleWait(SettleInterval);
    sent &= cbDOut(DioBoardNum, DataPort, PotFrameRest) == CBW_NOERRORS;
    SettleWait(SettleInterval);
    sent &= cbDOut(DioBoardNum, AddressPort, AddrIdle) == CBW_NOERRORS;
    SettleWait(SettleInterval);
    sent &= cbDConfigPort(DioBoardNum, DataPort, DIGITALIN) == CBW_NOERRORS;
    if (trailingWait)
        SettleWait(SettleInterval);
    return sent;
}

void TForm1::BusStrobe(uint16_t address)
{
    cbDOut(DioBoardNum, AddressPort, address);
    SettleWait(SettleInterval);
    cbDOut(DioBoardNum, AddressPort, AddrIdle);
}
