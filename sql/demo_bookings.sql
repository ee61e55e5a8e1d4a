-- Sample bookings for the demo: every source, the codes that are rewritten or
-- filtered, NULL columns, an umlaut, a comma and a line feed inside values,
-- old bookings for the purge.
INSERT INTO KVSYSTEM.KVS321BEW
  (BewIDN, BewSto, BewDtm, BewUhr, BewLfn, BewTID, BewLID, BewArt, BewKst, BewQua,
   BewKze, BewBer, BewEra, BewErq, BewTas, BewSrc, BewRes, BewUkz, BewDat)
VALUES
  -- time clock (DTA): 201 becomes 204, 430 becomes 426, 205 is not accepted
  ('4711', 'WERK1', CURDATE(), CONCAT(CURDATE(), ' 07:58:13'), '1', 'T-0001', 'L01', 'K', 'KST 4100', '', '', '', '201', '', '01', 'DTA', _latin1 X'4DFC6C6C6572', NULL, NOW()),
  ('4711', 'WERK1', CURDATE(), CONCAT(CURDATE(), ' 12:01:40'), '1', 'T-0002', 'L01', 'G', 'KST 4100', '', '', '', '430', '', '02', 'DTA', '', NULL, NOW()),
  ('4711', 'WERK1', CURDATE(), CONCAT(CURDATE(), ' 12:31:02'), '1', 'T-0003', 'L01', 'K', 'KST 4100', '', '', '', '205', '', '01', 'dta', '', 3, NOW()),
  ('4711', 'WERK1', CURDATE(), CONCAT(CURDATE(), ' 16:45:59'), '1', 'T-0004', 'L01', 'G', 'KST 4100', '', '', '', '4', '', '02', 'DTA', '', NULL, NOW()),
  -- terminal 40P: a marker or authorisation 1 give 100, otherwise 204
  ('4712', 'WERK2', CURDATE(), CONCAT(CURDATE(), ' 06:02:11'), '1', 'T-0005', 'L07', 'K', 'KST 5200', '2.5', 'X', '', '300', 'E1', '03', '40P', '', NULL, NOW()),
  ('4712', 'WERK2', CURDATE(), CONCAT(CURDATE(), ' 14:10:00'), '1', 'T-0006', 'L07', 'G', 'KST 5200', '', '', '1', '300', '', '04', '40p', '', NULL, NOW()),
  ('4712', 'WERK2', CURDATE(), CONCAT(CURDATE(), ' 14:10:00'), '2', 'T-0007', 'L07', 'G', NULL, '', '', '2', '300', '', '04', '40P', NULL, NULL, NOW()),
  -- 50P always 100; 62P keeps its code and is written only when accepted
  ('4713', 'WERK3', CURDATE(), CONCAT(CURDATE(), ' 08:00:00'), '1', 'T-0008', 'L09', 'K', 'KST 6000', '', '', '', '777', '', '', '50P', '', NULL, NOW()),
  ('4713', 'WERK3', CURDATE(), CONCAT(CURDATE(), ' 09:15:00'), '1', 'T-0009', 'L09', 'D', 'KST 6000', '', '', '', '9', '', '', '62P', '', NULL, NOW()),
  ('4713', 'WERK3', CURDATE(), CONCAT(CURDATE(), ' 09:16:00'), '1', 'T-0010', 'L09', 'D', 'KST 6000', '', '', '', '999', '', '', '62P', '', NULL, NOW()),
  -- a comma and a line feed inside values: one blank each in the transfer line
  ('4715', 'WERK1', CURDATE(), CONCAT(CURDATE(), ' 11:11:11'), '1', 'T-0013', 'L01', 'K', CONCAT('KST', CHAR(10), '4100'), '', '', '', '201', '', '01', 'DTA', _latin1 X'4DFC6C6C65722C2048616E73', NULL, NOW()),
  -- any other source, the empty one too, gets 204
  ('4714', 'WEB', CURDATE(), CONCAT(CURDATE(), ' 10:00:00'), '1', 'T-0011', 'W1', 'K', '', '', '', '', '', '', '', 'WEB', 'Korrektur', NULL, NOW()),
  ('4714', 'WEB', CURDATE(), CONCAT(CURDATE(), ' 10:05:00'), '1', 'T-0012', 'W1', 'G', '', '', '', '', '', '', '', '', '', NULL, NOW()),
  -- transferred earlier: not selected again
  ('4711', 'WERK1', CURDATE() - INTERVAL 1 DAY, CONCAT(CURDATE() - INTERVAL 1 DAY, ' 07:55:00'), '1', 'T-0000', 'L01', 'K', 'KST 4100', '', '', '', '204', '', '01', 'DTA', '', 4, NOW() - INTERVAL 1 DAY),
  -- older than three months: the transferred one is purged, the pending one
  -- is exported, marked and purged in the same run
  ('4700', 'WERK1', CURDATE() - INTERVAL 4 MONTH, CONCAT(CURDATE() - INTERVAL 4 MONTH, ' 07:00:00'), '1', 'T-9998', 'L01', 'K', '', '', '', '', '204', '', '01', 'DTA', '', 4, NOW() - INTERVAL 4 MONTH),
  ('4701', 'WERK1', CURDATE() - INTERVAL 4 MONTH, CONCAT(CURDATE() - INTERVAL 4 MONTH, ' 07:30:00'), '1', 'T-9999', 'L01', 'K', '', '', '', '', '200', '', '01', 'DTA', '', NULL, NOW() - INTERVAL 4 MONTH);
