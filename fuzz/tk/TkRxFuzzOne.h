#pragma once
// One received datagram through everything the receive side does with it: the frame, the
// dispatch by its own ID, every decoder whatever the ID, and the collector's parse-all.
// Shared by the libFuzzer target and the corpus replay test, so both run the same code.
// Only Exception is an expected outcome; anything else escapes and fails the run.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "Container.h"
#include "Exception.h"
#include "ResponseMessage.h"
#include "TKMessage.h"

inline void tkRxFuzzOne(const uint8_t* data, size_t size) {
    std::unique_ptr<TKMessage> message;
    try {
        message = std::make_unique<TKMessage>(data, size);
    } catch (const Exception&) {
        return;
    }
    using Decoder = std::unique_ptr<Container> (ResponseMessage::*)(const TKMessage&);
    static const Decoder kDecoders[] = {
        &ResponseMessage::parseGet_OLT_Information,
        &ResponseMessage::parseOLT_Ready,
        &ResponseMessage::parseGet_List_of_All_Known_Logical_Links,
        &ResponseMessage::parseGet_List_of_Discovered_Links,
        &ResponseMessage::parseGet_OAM_Extension_Set_Support,
        &ResponseMessage::parseGet_NVS_Enabled,
        &ResponseMessage::parseGet_All_Domains,
        &ResponseMessage::parseGet_All_Paths,
        &ResponseMessage::parseGet_CTC_21_Optical_Transceiver_Diagnosis,
        &ResponseMessage::parseGet_Destination_Rules,
        &ResponseMessage::parseGet_OLT_PortLink_Rules,
        &ResponseMessage::parseGet_Statistics,
        &ResponseMessage::parseGet_ONU_Information,
        &ResponseMessage::parseGet_OLT_Bridging_Mode,
        &ResponseMessage::parseLink_Discovery,
        &ResponseMessage::parseReport_Alarm,
        &ResponseMessage::parseOnuLinkMovedBetweenPonPorts,
    };
    ResponseMessage response;
    response.setTolerantPauseForTest(std::chrono::milliseconds(0));
    for (Decoder decoder : kDecoders) {
        try {
            std::unique_ptr<Container> record = (response.*decoder)(*message);
            if (record) (void)record->getJsonFile();
        } catch (const Exception&) {}
    }
    // The collector owns the message from here; a decoder failure clears it mid-loop.
    response.addResponseMessage(std::move(message));
    try {
        response.parseAllMessages();
        for (size_t i = 0; i < response.getContainerSize(); ++i) (void)response.getContainer(i)->getJsonFile();
    } catch (const Exception&) {}
}
