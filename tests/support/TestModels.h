// The models the attribute procedures run on, one of each family (the 6313
// with three outputs, the 6513 with one), and the channel names a session of
// each takes and refuses.
#pragma once

#include <string>
#include <vector>

namespace tarvektest {

struct Model {
    const char* pModel;   // as the instrument reports it
    const char* pFamily;  // the family the driver puts it in
    bool bMultiOutput;
};

inline constexpr Model kModels[] = {{"6313", "Series6310", true}, {"6513", "Series6510", false}};

// The output channels of the model, by their names.
inline std::vector<std::string> ChannelsOf(const Model& model) {
    return model.bMultiOutput ? std::vector<std::string>{"CH1", "CH2", "CH3"}
                              : std::vector<std::string>{"CH1"};
}

// Names no channel of the model has: one past its last output and one that
// no model knows.
inline std::vector<std::string> IllegalChannelsOf(const Model& model) {
    return model.bMultiOutput ? std::vector<std::string>{"CH4", "Output9"}
                              : std::vector<std::string>{"CH2", "Output9"};
}

}  // namespace tarvektest
