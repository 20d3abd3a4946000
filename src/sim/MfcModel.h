#pragma once
// One emulated mass flow controller: its register map, its flow physics and its Modbus RTU slave
// logic, without any port. Time comes in as seconds on the physics clock, so the model can be
// driven by real time, scaled time or a test clock.

#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "sim/GasTables.h"

namespace moirex::sim {

class MfcModel {
public:
    MfcModel(ControllerConfig config, bool noise, uint32_t seed);

    // Length of the request that starts with these bytes: 0 while not yet known, -1 for a
    // function whose length the slave cannot know (its end is found by the line going silent).
    static int ExpectedRequestLength(std::span<const uint8_t> bytes);

    // Handles one complete request frame received at physics time `now_s`; returns the answer,
    // empty when the slave stays silent (CRC wrong, another address, broadcast).
    std::vector<uint8_t> Handle(std::span<const uint8_t> frame, double now_s);

    // Brings flow and totalizer up to `now_s`.
    void Advance(double now_s);

    bool RefuseSetPoint = false;  // set-point writes answered with exception 04

    const ControllerConfig& Config() const { return config_; }
    float SetPoint() const { return setPoint_; }
    float Flow() const;  // true flow now, g/min
    double MassDelivered_g() const { return mass_g_; }
    float Totalizer() const { return static_cast<float>(totalizer_); }
    int ActiveTable() const { return active_; }
    int SelectedTable() const { return selected_; }
    const GasTable* Table(int number) const;
    uint64_t Requests() const { return requests_; }

    // Modbus exception codes.
    static constexpr uint8_t kIllegalFunction = 1;
    static constexpr uint8_t kIllegalDataAddress = 2;
    static constexpr uint8_t kIllegalDataValue = 3;
    static constexpr uint8_t kSlaveDeviceFailure = 4;

private:
    // 0 on success, else an exception code.
    uint8_t ReadRegister(uint16_t address, uint16_t& value) const;
    uint8_t WriteRegisters(uint16_t address, std::span<const uint16_t> values, double now_s);
    void NewSetPoint(float value);
    double ToTotalizerUnit(double grams) const;

    ControllerConfig config_;
    bool noise_;
    std::mt19937 rng_;
    int active_;
    int selected_;
    uint16_t register52_ = 0;
    uint16_t register404F_ = 0;
    float setPoint_ = 0;
    double lag_ = 0;      // g/min, the first-order part of the flow
    double wobble_ = 0;   // g/min, correlated noise on top
    double bias_ = 1.0;   // how far off the controller holds a flow below its range
    double mass_g_ = 0;
    double totalizer_ = 0;
    double time_s_ = 0;
    bool started_ = false;
    uint64_t requests_ = 0;
};

}  // namespace moirex::sim
