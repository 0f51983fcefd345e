// The driver's identity, fixed at build time.
#pragma once

namespace tarvek {

inline constexpr char kDriverPrefix[] = "TARVEK";
inline constexpr char kDriverVendor[] = "Norvale";
inline constexpr char kDriverDescription[] =
    "IVI-C Driver for 631X and 651X Series DC Power Supplies";
inline constexpr char kDescriptionSuffix[] = " [Compiled for 64-bit]";
inline constexpr char kDriverRevision[] = "2.0.0.0";
inline constexpr char kGroupCapabilities[] =
    "IviDCPwrBase,IviDCPwrSoftwareTrigger,IviDCPwrMeasurement";
inline constexpr int kClassSpecMajorVersion = 3;
inline constexpr int kClassSpecMinorVersion = 0;

// A model number, so that a simulated session without a configured model is a
// recognised three-output supply of the Series6310 family.
inline constexpr char kDefaultSimulationModel[] = "6310";

// The repeated capability of the output channels.
inline constexpr char kOutputChannelRepCap[] = "OutputChannel";

inline constexpr char kFamily6310[] = "Series6310";
inline constexpr char kFamily6510[] = "Series6510";

}  // namespace tarvek
