-- The source database of the migration test: every column type family,
-- extremes, NULLs, UTF-8, quotes, line breaks and tabs, long values, names
-- that need quoting, definitions the rewriting rules cannot handle, a view,
-- and a table with more rows than a sheet holds.
SET NAMES utf8mb4;

CREATE TABLE types (
  id INT NOT NULL,
  ti TINYINT, tu TINYINT UNSIGNED, si SMALLINT, mi MEDIUMINT, i INT, iu INT UNSIGNED,
  bi BIGINT, bu BIGINT UNSIGNED,
  de DECIMAL(30,10), fl FLOAT, db DOUBLE,
  d DATE, dt DATETIME(6), ts TIMESTAMP NULL, tm TIME, yr YEAR,
  ch CHAR(20), vc VARCHAR(255), tx MEDIUMTEXT,
  en ENUM('small','big one'), st SET('red','green','blue'),
  bl BLOB, js JSON, bt BIT(10),
  monkey VARCHAR(20) COMMENT 'a column whose name holds "key"',
  PRIMARY KEY (id),
  KEY by_monkey (monkey)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

INSERT INTO types VALUES
 (1, -128, 0, -32768, -8388608, -2147483648, 0, -9223372036854775808, 0,
  -12345678901234567890.1234567890, -3.40282e38, -1.7976931348623157e308,
  '1000-01-01', '1000-01-01 00:00:00.000000', '1970-01-02 00:00:01', '-838:59:59', 1901,
  '', '', '', 'small', '', x'', '[]', b'0', 'm1'),
 (2, 127, 255, 32767, 8388607, 2147483647, 4294967295, 9223372036854775807, 18446744073709551615,
  12345678901234567890.1234567890, 3.40282e38, 1.7976931348623157e308,
  '9999-12-31', '9999-12-31 23:59:59.999999', '2038-01-19 03:14:07', '838:59:59', 2155,
  'fixed', 'it''s "quoted"', 'line one\nline two\r\nand\ta tab', 'big one', 'red,blue',
  x'00FF10', '{"a": [1, 2.5, "x"], "b": null}', b'1111111111', 'm2'),
 (3, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
  NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL),
 (4, 0, 1, 0, 0, 0, 1, 0, 1, 0.0000000001, 1.5, 0.1, '2024-02-29', '2024-02-29 12:34:56.5',
  NULL, '00:00:00', 2024, '中文', '汉字 and an emoji 😀', '''''', 'small', '', x'DEADBEEF',
  '"中"', b'101', NULL),
 (5, 1, 2, 3, 4, 5, 6, 7, 8, 9.5, 10.25, 11.125, '2000-01-01', '2000-01-01 00:00:00', NULL,
  '12:00:00', 2000, 'x', 'y', REPEAT('twenty k ', 2223), NULL, 'green', NULL, NULL, NULL, 'm5');

CREATE TABLE `order details` (
  `order id` INT NOT NULL PRIMARY KEY,
  `select` VARCHAR(40),
  `from` TEXT
);
INSERT INTO `order details` VALUES (1, 'where', 'and ''quotes'''), (2, NULL, 'x,y (z)');

CREATE TABLE `odd``name` (a INT, b VARCHAR(10));
INSERT INTO `odd``name` VALUES (1, 'back`quote'), (2, NULL);

CREATE TABLE `../up` (a INT);
INSERT INTO `../up` VALUES (7);

-- Definitions the rewriting rules break: the table is then made from its
-- column list.
CREATE TABLE with_options (
  a INT,
  b VARCHAR(10),
  KEY kb (b)
) ENGINE=InnoDB KEY_BLOCK_SIZE=8 COMMENT='prices (in euro), taxes, etc';
INSERT INTO with_options VALUES (1, 'one');

CREATE TABLE with_checks (
  a INT CHECK (a > 0),
  b INT,
  c INT AS (a + b) VIRTUAL,
  d VARCHAR(20) DEFAULT 'x, (y)' COMMENT 'holds, commas (and parentheses)',
  CONSTRAINT positive CHECK (b >= 0)
);
INSERT INTO with_checks (a, b, d) VALUES (1, 2, 'p, (q)');

CREATE TABLE partitioned (
  id INT NOT NULL,
  v VARCHAR(10),
  PRIMARY KEY (id)
) PARTITION BY RANGE (id) (PARTITION p0 VALUES LESS THAN (10), PARTITION p1 VALUES LESS THAN MAXVALUE);
INSERT INTO partitioned VALUES (1, 'a'), (20, 'b');

CREATE TABLE long_values (id INT, v MEDIUMTEXT);
INSERT INTO long_values VALUES (1, CONCAT(REPEAT('a', 40000), 'END')), (2, REPEAT('😀', 20000));

CREATE TABLE empty_table (a INT, b TEXT);

CREATE TABLE big (id INT NOT NULL PRIMARY KEY, label VARCHAR(20));
INSERT INTO big SELECT seq, CONCAT('row ', seq) FROM seq_1_to_70000;

CREATE VIEW type_view AS SELECT id, vc FROM types;
