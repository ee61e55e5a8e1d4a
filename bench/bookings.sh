# Sourced by the benchmarks: the bookings they fill the table with.
#
# One booking per seq: 800 badges, four locations, spread over 89 days.
# The transferred ones have the sequence numbers 0 to 9, the pending ones P0 to
# P9 (or with twins=1 the numbers of the transferred one of the same seq).
columns="BewIDN, BewSto, BewDtm, BewUhr, BewLfn, BewTID, BewLID, BewArt, BewKst, BewQua,
         BewKze, BewBer, BewEra, BewErq, BewTas, BewSrc, BewRes, BewUkz, BewDat"
booking_values() {  # PREFIX UKZ
  local lfn="CAST(seq % 10 AS CHAR)"
  [ "$1" != P ] || [ "${twins:-0}" = 1 ] || lfn="CONCAT('P', seq % 10)"
  cat <<SQL
  LPAD(seq % 800, 6, '0'), CONCAT('WERK', seq % 4),
  CURDATE() - INTERVAL (seq % 89) DAY,
  TIMESTAMP(CURDATE() - INTERVAL (seq % 89) DAY) + INTERVAL (seq * 37 % 86400) SECOND,
  $lfn, CONCAT('$1', seq), CONCAT('L', seq % 50),
  ELT(1 + seq % 2, 'K', 'G'), CONCAT('KST ', 4000 + seq % 30), '', IF(seq % 7 = 0, 'X', ''),
  IF(seq % 5 = 0, '1', ''), ELT(1 + seq % 8, '201', '430', '205', '4', '300', '999', '9', ''),
  '', LPAD(seq % 12, 2, '0'), ELT(1 + seq % 6, 'DTA', 'dta', '40P', '50P', '62P', 'WEB'), '',
  $2, NOW() - INTERVAL (seq % 89) DAY
SQL
}

