-- The booking table of the time clocks as this program reads, marks and purges it.
-- Character columns are Windows-1252 (the server calls it latin1).
CREATE DATABASE IF NOT EXISTS KVSYSTEM DEFAULT CHARACTER SET latin1;

CREATE TABLE IF NOT EXISTS KVSYSTEM.KVS321BEW (
  BewTID VARCHAR(255) NULL COMMENT 'terminal booking id',
  BewLID VARCHAR(5)   NULL COMMENT 'reader id',
  BewIDN VARCHAR(50)  NULL COMMENT 'identification (badge, personnel number)',
  BewSto VARCHAR(8)   NULL COMMENT 'location',
  BewDtm DATE         NULL COMMENT 'booking date',
  BewUhr DATETIME     NULL COMMENT 'booking time stamp',
  BewLfn VARCHAR(3)   NULL COMMENT 'sequence number within the second',
  BewArt VARCHAR(3)   NULL COMMENT 'booking kind',
  BewTas VARCHAR(2)   NULL COMMENT 'key pressed',
  BewEra VARCHAR(3)   NULL COMMENT 'booking code',
  BewKze VARCHAR(1)   NULL COMMENT 'marker',
  BewBer VARCHAR(1)   NULL COMMENT 'authorisation',
  BewErq VARCHAR(12)  NULL COMMENT 'code source',
  BewKst VARCHAR(30)  NULL COMMENT 'cost centre',
  BewQua VARCHAR(5)   NULL COMMENT 'quantity',
  BewSrc VARCHAR(9)   NULL COMMENT 'source of the booking (DTA, 40P, 50P, 62P, ...)',
  BewRes VARCHAR(136) NULL COMMENT 'reserve',
  BewUkz SMALLINT     NULL COMMENT 'transfer mark: 4 = transferred',
  BewUdt DATETIME     NULL COMMENT 'time of the transfer',
  BewDat DATETIME     NULL COMMENT 'time the booking was stored',
  KEY KVS321BEW_ROW (BewIDN, BewSto, BewDtm, BewUhr, BewLfn),
  KEY KVS321BEW_UKZ (BewUkz, BewDat)
) ENGINE = InnoDB DEFAULT CHARSET = latin1;

-- One row per run that committed markings, written in the run's own
-- transaction: after a connection lost during COMMIT (a load balancer failing
-- over, a cluster node lost) the run looks its row up to know whether that
-- commit, and not another host's, went through. Kept three months.
CREATE TABLE IF NOT EXISTS KVSYSTEM.KVS321BEW_LAUF (
  LaufID  CHAR(32) NOT NULL COMMENT 'the run''s token: 128 random bits in hex',
  LaufDat DATETIME NOT NULL COMMENT 'time of the run''s commit',
  PRIMARY KEY (LaufID),
  KEY KVS321BEW_LAUF_DAT (LaufDat)
) ENGINE = InnoDB DEFAULT CHARSET = latin1;
