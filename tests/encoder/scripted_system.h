// Scripted platform encoders for the opening tests.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "encoder/scripted_transform.h"

namespace vorlix::testing {

class ScriptedCandidate : public EncoderCandidate {
public:
    std::optional<std::string> name;
    std::shared_ptr<ScriptedTransform> transform = std::make_shared<ScriptedTransform>();
    bool activation_fails = false;
    int shutdown_objects = 0;

    std::optional<std::string> friendly_name() override { return name; }
    Result<std::shared_ptr<EncoderTransform>> activate() override {
        if (activation_fails) return Error("cannot activate");
        return std::shared_ptr<EncoderTransform>(transform);
    }
    void shutdown_object() override { ++shutdown_objects; }
};

// Hands a candidate the system keeps to the opener, which releases it.
class CandidateProxy : public EncoderCandidate {
public:
    explicit CandidateProxy(std::shared_ptr<ScriptedCandidate> target) : target_(std::move(target)) {}
    std::optional<std::string> friendly_name() override { return target_->friendly_name(); }
    Result<std::shared_ptr<EncoderTransform>> activate() override { return target_->activate(); }
    void shutdown_object() override { target_->shutdown_object(); }

private:
    std::shared_ptr<ScriptedCandidate> target_;
};

class ScriptedSystem : public EncoderSystem {
public:
    Status startup_status;
    std::vector<std::shared_ptr<ScriptedCandidate>> candidates;
    int enumerations = 0;
    std::shared_ptr<ScriptedTransform> software = std::make_shared<ScriptedTransform>();
    bool software_missing = false;
    int startups = 0;

    ScriptedCandidate& add_candidate(std::optional<std::string> name) {
        auto candidate = std::make_shared<ScriptedCandidate>();
        candidate->name = std::move(name);
        candidates.push_back(candidate);
        return *candidate;
    }

    Status startup() override {
        ++startups;
        return startup_status;
    }
    std::vector<std::unique_ptr<EncoderCandidate>> hardware_encoders() override {
        ++enumerations;
        std::vector<std::unique_ptr<EncoderCandidate>> list;
        for (auto& candidate : candidates) list.push_back(std::make_unique<CandidateProxy>(candidate));
        return list;
    }
    Result<std::shared_ptr<EncoderTransform>> software_encoder() override {
        if (software_missing) return Error("no software encoder");
        return std::shared_ptr<EncoderTransform>(software);
    }
};

}  // namespace vorlix::testing
