#pragma once

namespace ravelin::platform {

struct LocalDateTime {
    int year, month, day, hour, minute, second;
};

LocalDateTime localNow();

} // namespace ravelin::platform
