// The driver's one device. libindidriver provides main() and hands every
// client request to the devices that registered themselves on construction.
#include <memory>

#include "tarnscsi_ccd.h"

namespace {

const std::unique_ptr<tarnscsi::indi::TarnscsiCcd> kDevice = std::make_unique<tarnscsi::indi::TarnscsiCcd>();

}  // namespace
