#include "PindleCore/logging/LGAbstractDatabaseLogger.hpp"

#include "platform/foundation/Weakly.hpp"
namespace pindle {

LGAbstractDatabaseLogger::LGAbstractDatabaseLogger(std::string loggerName)
    : LGAbstractLogger(std::move(loggerName)) {}

LGAbstractDatabaseLogger::~LGAbstractDatabaseLogger() {
    destroySaveTimer();
    destroyDeleteTimer();
}

std::shared_ptr<LGAbstractDatabaseLogger> LGAbstractDatabaseLogger::shared() {
    return std::static_pointer_cast<LGAbstractDatabaseLogger>(shared_from_this());
}

bool LGAbstractDatabaseLogger::db_log(const LGLogMessage&) {
    return false;
}

void LGAbstractDatabaseLogger::logMessage(const LGLogMessage& logMessage) {
    if (!db_log(logMessage)) {
        return;
    }
    ++unsavedCount_;
    if (saveThreshold_ != 0 && unsavedCount_ >= saveThreshold_) {
        performSaveAndSuspendSaveTimer();
    } else if (unsavedCount_ == 1) {
        unsavedTime_ = platform::DispatchTime::now();
        updateAndResumeSaveTimer();
    }
}

void LGAbstractDatabaseLogger::performSaveAndSuspendSaveTimer() {
    if (unsavedCount_ > 0) {
        if (deleteOnEverySave_) {
            db_saveAndDelete();
        } else {
            db_save();
        }
    }
    unsavedCount_ = 0;
    unsavedTime_.reset();
    if (saveTimer_ && !saveTimerSuspended_) {
        saveTimer_->suspend();
        saveTimerSuspended_ = true;
    }
}

void LGAbstractDatabaseLogger::performDelete() {
    if (maxAge_ > 0) {
        db_delete();
        lastDeleteTime_ = platform::DispatchTime::now();
    }
}

void LGAbstractDatabaseLogger::createSuspendedSaveTimer() {
    if (saveTimer_ || saveInterval_ <= 0) {
        return;
    }
    saveTimer_ = platform::DispatchTimerSource::create(loggerQueue());
    saveTimer_->setEventHandler(platform::weakly(
        this, [](LGAbstractDatabaseLogger& self) { self.performSaveAndSuspendSaveTimer(); }));
    saveTimerSuspended_ = true;  // a new timer starts suspended
}

void LGAbstractDatabaseLogger::updateAndResumeSaveTimer() {
    if (!saveTimer_ || saveInterval_ <= 0 || !unsavedTime_) {
        return;
    }
    saveTimer_->schedule(*unsavedTime_ + saveInterval_, saveInterval_);
    if (saveTimerSuspended_) {
        saveTimer_->resume();
        saveTimerSuspended_ = false;
    }
}

void LGAbstractDatabaseLogger::destroySaveTimer() {
    if (!saveTimer_) {
        return;
    }
    saveTimer_->cancel();
    if (saveTimerSuspended_) {
        saveTimer_->resume();
        saveTimerSuspended_ = false;
    }
    saveTimer_.reset();
}

void LGAbstractDatabaseLogger::createAndStartDeleteTimer() {
    if (deleteTimer_ || deleteInterval_ <= 0 || maxAge_ <= 0) {
        return;
    }
    deleteTimer_ = platform::DispatchTimerSource::create(loggerQueue());
    deleteTimer_->setEventHandler(
        platform::weakly(this, [](LGAbstractDatabaseLogger& self) { self.performDelete(); }));
    updateDeleteTimer();
    deleteTimer_->resume();
}

void LGAbstractDatabaseLogger::updateDeleteTimer() {
    if (!deleteTimer_ || deleteInterval_ <= 0 || maxAge_ <= 0) {
        return;
    }
    platform::DispatchTime start = lastDeleteTime_.value_or(platform::DispatchTime::now());
    deleteTimer_->schedule(start + deleteInterval_, deleteInterval_);
}

void LGAbstractDatabaseLogger::destroyDeleteTimer() {
    if (deleteTimer_) {
        deleteTimer_->cancel();
        deleteTimer_.reset();
    }
}

std::uint64_t LGAbstractDatabaseLogger::saveThreshold() const {
    std::uint64_t value = 0;
    syncOnLoggerQueue([&] { value = saveThreshold_; });
    return value;
}

platform::TimeInterval LGAbstractDatabaseLogger::saveInterval() const {
    platform::TimeInterval value = 0;
    syncOnLoggerQueue([&] { value = saveInterval_; });
    return value;
}

platform::TimeInterval LGAbstractDatabaseLogger::maxAge() const {
    platform::TimeInterval value = 0;
    syncOnLoggerQueue([&] { value = maxAge_; });
    return value;
}

platform::TimeInterval LGAbstractDatabaseLogger::deleteInterval() const {
    platform::TimeInterval value = 0;
    syncOnLoggerQueue([&] { value = deleteInterval_; });
    return value;
}

bool LGAbstractDatabaseLogger::deleteOnEverySave() const {
    bool value = false;
    syncOnLoggerQueue([&] { value = deleteOnEverySave_; });
    return value;
}

void LGAbstractDatabaseLogger::setSaveThreshold(std::uint64_t threshold) {
    auto self = shared();
    runOnLoggerQueue([self, threshold] {
        if (self->saveThreshold_ == threshold) {
            return;
        }
        self->saveThreshold_ = threshold;
        if (threshold != 0 && self->unsavedCount_ >= threshold) {
            self->performSaveAndSuspendSaveTimer();
        }
    });
}

void LGAbstractDatabaseLogger::setSaveInterval(platform::TimeInterval interval) {
    auto self = shared();
    runOnLoggerQueue([self, interval] {
        if (self->saveInterval_ == interval) {
            return;
        }
        self->saveInterval_ = interval;
        if (interval > 0) {
            self->createSuspendedSaveTimer();
            self->updateAndResumeSaveTimer();
        } else {
            self->destroySaveTimer();
        }
    });
}

void LGAbstractDatabaseLogger::setMaxAge(platform::TimeInterval age) {
    auto self = shared();
    runOnLoggerQueue([self, age] {
        platform::TimeInterval old = self->maxAge_;
        if (old == age) {
            return;
        }
        self->maxAge_ = age;
        if (old > 0 && age <= 0) {
            self->destroyDeleteTimer();
        } else if ((old > 0 && age > 0 && age < old) || (old <= 0 && age > 0)) {
            self->performDelete();
            if (self->deleteTimer_) {
                self->updateDeleteTimer();
            } else {
                self->createAndStartDeleteTimer();
            }
        }
    });
}

void LGAbstractDatabaseLogger::setDeleteInterval(platform::TimeInterval interval) {
    auto self = shared();
    runOnLoggerQueue([self, interval] {
        if (self->deleteInterval_ == interval) {
            return;
        }
        self->deleteInterval_ = interval;
        if (interval > 0) {
            if (self->deleteTimer_) {
                self->updateDeleteTimer();
            } else {
                self->createAndStartDeleteTimer();
            }
        } else {
            self->destroyDeleteTimer();
        }
    });
}

void LGAbstractDatabaseLogger::setDeleteOnEverySave(bool deleteOnEverySave) {
    auto self = shared();
    runOnLoggerQueue([self, deleteOnEverySave] { self->deleteOnEverySave_ = deleteOnEverySave; });
}

void LGAbstractDatabaseLogger::savePendingLogEntries() {
    if (isOnInternalLoggerQueue()) {
        performSaveAndSuspendSaveTimer();
        return;
    }
    auto self = shared();
    loggerQueue()->async([self] { self->performSaveAndSuspendSaveTimer(); });
}

void LGAbstractDatabaseLogger::deleteOldLogEntries() {
    if (isOnInternalLoggerQueue()) {
        performDelete();
        return;
    }
    auto self = shared();
    loggerQueue()->async([self] { self->performDelete(); });
}

void LGAbstractDatabaseLogger::didAddLogger() {
    createSuspendedSaveTimer();
    createAndStartDeleteTimer();
}

void LGAbstractDatabaseLogger::willRemoveLogger() {
    performSaveAndSuspendSaveTimer();
    destroySaveTimer();
    destroyDeleteTimer();
}

void LGAbstractDatabaseLogger::flush() {
    performSaveAndSuspendSaveTimer();
}

}  // namespace pindle
