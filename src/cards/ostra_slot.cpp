#include "cards/ostra_slot.h"

#include <algorithm>
#include <sstream>

#include "cards/card_messages.h"
#include "cards/card_types.h"
#include "surface/frame.h"

namespace ravelin::cards {

namespace {

// A byte of a message, or 0 past its end: a short message never reads
// beyond what arrived.
uint8_t at(const std::string& s, size_t i)
{
    return i < s.size() ? uint8_t(s[i]) : 0;
}

std::string bytes(std::initializer_list<uint8_t> b)
{
    return std::string(b.begin(), b.end());
}

bool oneOf(int v, std::initializer_list<int> set)
{
    return std::find(set.begin(), set.end(), v) != set.end();
}

// "a.b.c.d" in network byte order: the first number in the low byte. 0 when
// the text is no IPv4 address.
uint32_t parseIPv4(const std::string& text)
{
    std::istringstream in(text);
    uint32_t result = 0;
    for (int i = 0; i < 4; ++i) {
        int part = -1;
        char dot = '.';
        if (i > 0) in >> dot;
        in >> part;
        if (!in || dot != '.' || part < 0 || part > 255) return 0;
        result |= uint32_t(part) << (8 * i);
    }
    return result;
}

} // namespace

tOstraSlot::tOstraSlot() = default;

tOstraSlot::tOstraSlot(int aSlot, OstraSlotServices services) : SlotNumber(uint8_t(aSlot)), services_(std::move(services))
{
    if (!services_.engineAddress.empty()) Open();
}

tOstraSlot::~tOstraSlot()
{
    Close();
}

void tOstraSlot::Open()
{
    Messenger = std::make_unique<tOstraMessenger>(services_.engineAddress, SlotNumber, services_.link);
    ClearToSend = true;
    // The first poll step then starts with the boot loader's synchronisation.
    AYTFailCount = AYTFailMax;
}

void tOstraSlot::Close()
{
    Messenger.reset();
}

uint8_t tOstraSlot::GetChecksum(std::string_view text)
{
    return surface::FrameSum(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

uint8_t* tOstraSlot::rackRecord(int n) const
{
    if (n < MinRack || n > MaxRack || !services_.racks) return nullptr;
    return services_.racks->RackRecord(n);
}

void tOstraSlot::Clear()
{
    std::string status(18, '\0');
    std::fill(status.begin() + 4, status.begin() + 14, ' ');
    ApplyCardStatus(status);
    ClearIODeviceData();
    ClearDeviceRecords();
    ResetLink();
}

void tOstraSlot::ClearDeviceRecords()
{
    if (DuzodData) {
        *DuzodData = tDuzodDataRec{};
        if (OnDuzodMessageReceived) OnDuzodMessageReceived(nRack, 0, 0);
    }
    if (Dante64Data) *Dante64Data = tDante64DataRec{};
}

void tOstraSlot::ResetLink()
{
    ClearToSend = true;
    ReceiveBuffer.clear();
    if (Messenger) Messenger->ClearQueues();
}

void tOstraSlot::SendAutoBaud()
{
    if (Messenger) Messenger->SendEthernet(bytes({kAutoBaudByte, kAutoBaudByte}));
}

void tOstraSlot::Send(std::string_view aMessage)
{
    if (!Messenger) return;
    const std::string frame = surface::EncodeFrame(aMessage);
    if (!frame.empty()) Messenger->SendEthernet(frame);
}

void tOstraSlot::RequestCardStatus()
{
    Send(bytes({cm_CardStatus, 0}));
}

void tOstraSlot::SendInputSRC(uint8_t value)
{
    Send(bytes({cm_InputSRC, 0, value}));
}

bool tOstraSlot::MADISRCValid() const
{
    return (CardType == 20 || CardType == 24) && CardVersion > 150;
}

void tOstraSlot::RefreshIODeviceData(int ToRack)
{
    if (OnRackDeviceDataReceived) OnRackDeviceDataReceived(ToRack, IODeviceData);
}

void tOstraSlot::ClearIODeviceData()
{
    IODeviceDataChanged = true;
    IODeviceData = tIODeviceData{};
}

void tOstraSlot::Service()
{
    if (!Messenger) return;
    // During a firmware update the boot loader owns the link.
    if (RestartTicks > 0) {
        if (--RestartTicks == 0) CreateCodeUpdater();
        return;
    }
    if (CodeUpdater) {
        CodeUpdater->PollTimerEvent();
        if (CodeUpdater && CodeUpdater->Ended()) CodeUpdaterEnded();
        return;
    }
    nRack = services_.racks ? services_.racks->RackOnPort(16 + SlotNumber) : -1;

    const std::string received = Messenger->ReceiveBufferedInput();
    if (!received.empty()) ParseReceived(received);
    if (!Messenger) return;

    ServiceAYT();

    // A card that is sent a large batch asks for a pause: it grants the next
    // one with "ClearToSend", and the slot goes on by itself after ~10 s.
    if (ClearToSend || ClearToSendFailCount > ClearToSendWaitCalls) {
        if (Messenger->OutgoingCount() >= ClearToSendQueueBytes) ClearToSend = false;
        Messenger->SendBufferedOutput();
        ClearToSendFailCount = 0;
    } else {
        ++ClearToSendFailCount;
    }

    if ((CardType == 0 || CardType == 20 || CardType == 24) && IODeviceDataChanged && rackRecord(nRack)) {
        RefreshIODeviceData(nRack);
        IODeviceDataChanged = false;
    }

    if (MADISRCValid() && SRCTimerCount > 0 && --SRCTimerCount == 0)
        SendInputSRC(MADITransmitMode == TarvolaControl ? 0 : 1);
}

void tOstraSlot::ServiceAYT()
{
    if (++AYTQFCount < AYTStepCalls) return;
    AYTQFCount = 0;
    ++AYTFailCount;
    if (AYTFailCount > AYTFailMax) {
        // A link the card dropped is made again, so that a card that went
        // away (restarting, or after a failed update) is reached once it is back.
        if (Messenger->Dropped()) Messenger->Reconnect();
        // A running card answers the synchronisation with 0xAA; one in its
        // boot loader with 0xCC, which leaves the count above the limit, so
        // it is synchronised again every second until it is updated.
        Clear();
        SendAutoBaud();
    } else if (!InBootLoader) {
        Send(bytes({cm_OstraStatus, 0}));
    }
}

void tOstraSlot::ParseReceived(std::string_view newBytes)
{
    ReceiveBuffer.append(newBytes);
    size_t i = 0;
    while (i < ReceiveBuffer.size()) {
        const uint8_t b = uint8_t(ReceiveBuffer[i]);
        if (i == 0 && (b <= 2 || b == kCardFirmwareRunning || b == kCardBootLoaderAck)) {
            ReceiveBuffer.erase(0, 1);
            if (b == kCardFirmwareRunning) {
                InBootLoader = false;
                AYTFailCount = 0;
            } else if (b == kCardBootLoaderAck) {
                InBootLoader = true;
            }
            continue;
        }
        if (InBootLoader || b <= 2) {
            ++i;
            continue;
        }
        if (ReceiveBuffer.size() - i < size_t(b) + 1) return; // the rest of the frame is on its way
        std::string body;
        if (!surface::DecodeFrame(std::string_view(ReceiveBuffer).substr(i, size_t(b) + 1), body)) {
            ++i;
            continue;
        }
        // Unrecognised bytes before a good frame go with it.
        ReceiveBuffer.erase(0, i + size_t(b) + 1);
        i = 0;
        Receive(body);
        if (!Messenger) return;
    }
}

void tOstraSlot::Receive(const std::string& aMessage)
{
    if (aMessage.empty()) return;
    AYTFailCount = 0;
    const uint8_t header = uint8_t(aMessage[0]);
    const std::string data = aMessage.substr(1);
    auto d = [&data](size_t i) { return at(data, i); };
    const bool haveRack = rackRecord(nRack) != nullptr;

    switch (header) {
    case cm_MessageError:
        // The card lost its place in our stream: zeros walk its parser back
        // to a frame start.
        ResetLink();
        if (Messenger) {
            Messenger->SendEthernet(std::string(MessageErrorZeros, '\0'));
            Messenger->LogError("reports message error");
        }
        break;
    case cm_OstraStatus:
        ApplyCardStatus(data);
        break;
    case cm_TarvolaControl:
        if (haveRack && OnMADIMessageReceived) OnMADIMessageReceived(nRack, SlotNumber, data.substr(std::min<size_t>(1, data.size())));
        break;
    case cm_SyncSource:
        SyncSource = d(1);
        break;
    case cm_MADIConnection:
    case cm_RackType:
    case cm_RackSlot:
    case cm_RackCode:
    case cm_RackVoltage:
        ReceiveRackData(header, data);
        break;
    case cm_InputSR:
        if (d(0) < InputSampleRates.size())
            InputSampleRates[d(0)] = uint32_t(d(1)) | uint32_t(d(2)) << 8 | uint32_t(d(3)) << 16 | uint32_t(d(4)) << 24;
        break;
    case cm_CardStatus:
        if (!haveRack) break;
        if (d(0) == 20 || d(0) == 24) {
            MADIChannelCount[0] = d(1) & 0x7F;
            MADITrue96[0] = d(1) >= 0x80;
            MADIChannelCount[1] = d(2) & 0x7F;
            MADITrue96[1] = d(2) >= 0x80;
        } else if (d(0) == 29 && OnNetworkIDReceived) {
            OnNetworkIDReceived(nRack, d(1));
        }
        break;
    case cm_UpdateFPGA:
        if (FPGAUpdater) {
            FPGAUpdater->ReceiveMessage(aMessage);
            if (FPGAUpdater && FPGAUpdater->Ended()) ReleaseFPGAUpdater();
        }
        break;
    case cm_InputSRC:
        if (CardType == 31 || MADISRCValid()) {
            SRCActive = (d(1) & 1) != 0;
            SRCError = (d(1) & 2) != 0;
            SRCState = tOstraSRCState(d(1) >> 4);
            if (MADISRCValid() && SRCError) SRCTimerCount = 200;
        }
        break;
    case cm_ClearToSend:
        ClearToSend = true;
        break;
    case cm_DanteMessage:
        ReceiveDante(aMessage);
        break;
    case cm_AMMMeter:
        if (haveRack && OnAMMShareMeterReceived) OnAMMShareMeterReceived(nRack, d(0), d(1));
        break;
    case cm_DuzodIPAddress:
    case cm_DuzodSerialNumber:
    case cm_DuzodDeviceName:
    case cm_DuzodVersion:
    case cm_DuzodWriteLog:
    case cm_DuzodExternalControlPort:
        ReceiveDuzod(header, data);
        break;
    default:
        break;
    }
}

void tOstraSlot::ApplyCardStatus(const std::string& data)
{
    auto d = [&data](size_t i) { return at(data, i); };
    const uint8_t type = uint8_t(NormaliseCardType(d(1)));
    uint8_t* rec = rackRecord(nRack);
    const uint8_t oldFlags = rec ? rec[4] : 0;

    if (type != CardType) {
        CardType = type;
        RequestCardStatus();
        ClearIODeviceData();
        ClearDeviceRecords();
    }
    CardVersion = d(2);
    Temperature = d(3);
    // Characters 1-2, 3-6 and 7-10 of the text come in reverse groups.
    std::string text;
    for (size_t i : {12, 13, 8, 9, 10, 11, 4, 5, 6, 7}) text.push_back(char(d(i)));
    FPGAVersion = text;
    CardSampleRate = uint32_t(d(14)) | uint32_t(d(15)) << 8 | uint32_t(d(16)) << 16 | uint32_t(d(17)) << 24;

    if (CardType == 0) {
        if (rec) rec[4] &= uint8_t(~2);
        InputSampleRates.fill(0);
    } else if (rec) {
        const int r = rec[0], p = rec[1];
        if (!oneOf(r, {25, 33, 47, 49, 51}) || services_.racks->EngineSampleRate(p) != 0) rec[4] |= 1;
        if (oneOf(r, {41, 42, 43, 45, 46, 50, 51, 53, 56}) || ((CardType == 20 || CardType == 24) && oneOf(r, {25, 33})))
            rec[4] |= 2;
    }
    if (!rec) return;
    const uint8_t changed = uint8_t((rec[4] ^ oldFlags) & 3);
    if (changed && (rec[0] == 51 || rec[0] == 79)) {
        if (uint8_t* partner = rackRecord(services_.racks->PartnerRack(rec[0], rec[1]))) partner[4] = rec[4];
    }
    if ((changed & 2) && OnOstracardOnLine) OnOstracardOnLine(nRack);
}

void tOstraSlot::ReceiveRackData(uint8_t header, const std::string& data)
{
    auto d = [&data](size_t i) { return at(data, i); };
    switch (header) {
    case cm_MADIConnection:
        // Only ports 0 and 1 exist; another port addresses nothing.
        if (d(0) > 1) return;
        MADIConnection[d(0)] = d(1);
        IODeviceDataChanged = true;
        if (MADIConnection[0] != 1 && MADIConnection[1] != 1) ClearIODeviceData();
        Send(bytes({cm_SyncSource, 0, d(0)}));
        Send(bytes({cm_SyncSource, 0, 255}));
        return;
    case cm_RackType:
        IODeviceData.SetWord(4, d(1));
        break;
    case cm_RackSlot:
        if (d(1) >= tIODeviceData::SlotCount) return;
        IODeviceData.SetWord(6 + 2 * d(1), uint16_t(d(2) * 256));
        break;
    case cm_RackCode:
        // The card sends the year most significant byte first.
        IODeviceData.Bytes[0] = d(1);
        IODeviceData.Bytes[1] = d(2);
        IODeviceData.SetWord(2, uint16_t(d(3) * 256 + d(4)));
        break;
    default:
        break;
    }
    IODeviceDataChanged = true;
}

void tOstraSlot::ReplyDuzodIPAddressRequest()
{
    tDuzodIPRec rec;
    rec.IPAddress = parseIPv4(services_.localAddress);
    SendDuzodIPAddress(2, rec);
}

void tOstraSlot::SendDuzodIPAddress(int CmdType, const tDuzodIPRec& DuzodIPRec)
{
    Send(bytes({cm_DuzodIPAddress, 0, uint8_t(CmdType)}) + DuzodIPRec.ToBytes());
}

void tOstraSlot::ReceiveDuzod(uint8_t header, const std::string& data)
{
    auto d = [&data](size_t i) { return at(data, i); };
    if (!DuzodData) DuzodData = std::make_unique<tDuzodDataRec>();
    auto from = [&data](size_t first, size_t most) {
        return first < data.size() ? data.substr(first, most) : std::string();
    };
    switch (header) {
    case cm_DuzodIPAddress:
        if (d(1) == 0) ReplyDuzodIPAddressRequest();
        else if (d(1) == 2 && d(2) <= 1) DuzodData->IPData[d(2)] = tDuzodIPRec::FromBytes(from(2, tDuzodIPRec::Size));
        break;
    case cm_DuzodSerialNumber:
        DuzodData->SerialNumber = from(1, 24);
        break;
    case cm_DuzodDeviceName:
        DuzodData->DeviceName = from(1, 64);
        break;
    case cm_DuzodVersion:
        DuzodData->Version = {d(1), d(2), d(3)};
        break;
    case cm_DuzodExternalControlPort:
        // The port numbers come most significant byte first.
        DuzodData->ExternalDeviceCode = d(1);
        DuzodData->ExternalControlPorts = {uint16_t(d(2) << 8 | d(3)), uint16_t(d(4) << 8 | d(5))};
        break;
    default:
        break;
    }
    if (OnDuzodMessageReceived) OnDuzodMessageReceived(nRack, header, header == cm_DuzodWriteLog ? d(1) : 0);
}

void tOstraSlot::ReceiveDante(const std::string& aMessage)
{
    const std::string data = aMessage.substr(1);
    auto d = [&data](size_t i) { return at(data, i); };
    if (aMessage.size() < 18 || aMessage.size() != size_t(256 * d(5) + d(6)) + 10) return;
    const std::string payload = data.substr(13);
    if (d(10) == 0x25 && at(payload, 0) == 4) {
        if (!Dante64Data) {
            Dante64Data = std::make_unique<tDante64DataRec>();
            for (auto& s : Dante64Data->SocketData) s.SocketType = 51;
        }
        Dante64Data->SpidVersion = std::to_string(at(payload, 1)) + "." + std::to_string(at(payload, 2));
    }
}

std::unique_ptr<tOstraSlot> NewOstraSlot(int aSlot, const OstraSlotServices& services)
{
    return std::make_unique<tOstraSlot>(aSlot, services);
}

void CreateOstraSlots(tOstraSlots& OstraSlots, const OstraSlotServices& services)
{
    for (int i = 0; i < 2; ++i) OstraSlots[size_t(i)] = NewOstraSlot(i, services);
}

void FreeOstraSlots(tOstraSlots& OstraSlots)
{
    for (auto& slot : OstraSlots) {
        if (!slot) continue;
        slot->Close();
        auto gone = std::move(slot);
        slot = nullptr;
    }
}

void ServiceOstraSlots(tOstraSlots& OstraSlots)
{
    for (auto& slot : OstraSlots)
        if (slot) slot->Service();
}

} // namespace ravelin::cards
