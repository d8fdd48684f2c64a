# Values stored with the wrong registry type keep their defaults, loading goes
# on, and each is named once in the log.
source "$(dirname "$0")/lib.sh"
scenario_begin "$@"

import_config \
  '"check_fail_loop_count"="12"' \
  "$(reg_dword qov_com_port 4)" \
  "$(reg_dword wait_time_after_start_s 120)"
install_service
start_service
wait_log "Service started" 20
wait_log "QOV COM port open fail (COM3)" 15
expect_log "Invalid data type for 'check_fail_loop_count', default kept"
expect_log "Invalid data type for 'qov_com_port', default kept"
# A value after the wrong ones was still read.
expect_log "Wait 2 min after start"
stop_service
wait_state 1 15
