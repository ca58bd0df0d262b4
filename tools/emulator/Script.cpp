#include "tools/emulator/Script.hpp"

namespace pindle::emulator {

void Script::addReply(std::string method, std::string pathOrTarget, Response response,
                      std::optional<int> uses) {
    std::scoped_lock lock(mutex_);
    replies_.push_back({std::move(method), std::move(pathOrTarget), std::move(response), uses});
}

void Script::addFault(std::string path, Fault fault) {
    std::scoped_lock lock(mutex_);
    faults_.push_back({std::move(path), std::move(fault)});
}

void Script::clear() {
    std::scoped_lock lock(mutex_);
    replies_.clear();
    faults_.clear();
}

std::optional<Response> Script::takeReply(const Request& request) {
    auto path = request.path();
    std::scoped_lock lock(mutex_);
    // A reply scripted for the exact target wins over one scripted for the path.
    for (bool byTarget : {true, false}) {
        for (auto it = replies_.begin(); it != replies_.end(); ++it) {
            bool keyedByTarget = it->pathOrTarget.find('?') != std::string::npos;
            const auto& key = byTarget ? request.target : path;
            if (keyedByTarget != byTarget || it->method != request.method ||
                it->pathOrTarget != key) {
                continue;
            }
            Response response = it->response;
            if (it->uses && --*it->uses <= 0) {
                replies_.erase(it);
            }
            return response;
        }
    }
    return std::nullopt;
}

std::optional<Fault> Script::takeFault(const Request& request) {
    auto path = request.path();
    std::scoped_lock lock(mutex_);
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->path != path || (it->fault.method && *it->fault.method != request.method)) {
            continue;
        }
        Fault fault = it->fault;
        if (it->fault.uses && --*it->fault.uses <= 0) {
            faults_.erase(it);
        }
        return fault;
    }
    return std::nullopt;
}

}  // namespace pindle::emulator
