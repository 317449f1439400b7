-- The source of the typed-cells test: one column of every type family, with
-- the values a number, date or boolean cell would change (whole numbers
-- beyond 2^53, decimals of more than 15 digits, zero dates, days before
-- 1900, times beyond a day, a BOOLEAN that is neither 0 nor 1) and NULLs.
SET NAMES utf8mb4;
-- Zero dates and days of 0 are taken as they are.
SET sql_mode = '';

CREATE TABLE typed (
  id INT NOT NULL PRIMARY KEY,
  i INT, ti TINYINT UNSIGNED, yr YEAR,
  bi BIGINT, bu BIGINT UNSIGNED,
  de DECIMAL(15,5), dw DECIMAL(30,10),
  fl FLOAT, db DOUBLE,
  d DATE, dt DATETIME, ts TIMESTAMP NULL, tm TIME(3),
  b1 BIT(1), bo BOOLEAN, bw BIT(12),
  en ENUM('a','b c'), st SET('x','y'), js JSON, vc VARCHAR(20), bl VARBINARY(8)
);

INSERT INTO typed VALUES
 (1, -7, 255, 2024, 9007199254740992, 18446744073709551615, 1234567890.12345,
  12345678901234567890.1234567891, 1.5, -2.25e300, '2024-02-29', '2024-02-29 13:14:15',
  '2000-01-01 00:00:00', '12:34:56.789', b'1', TRUE, b'101010101010', 'b c', 'x,y', '{"k": 1}',
  'text 1', x'00FF'),
 (2, 0, 0, 1901, 9007199254740993, 9007199254740993, -0.00001, 1.5, 0, 0, '0000-00-00',
  '2024-00-10 00:00:00', NULL, '-01:00:00', b'0', FALSE, b'0', 'a', '', '[]', '', x''),
 (3, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
  NULL, NULL, NULL, NULL, NULL, NULL),
 (4, 2147483647, 1, 2155, -9007199254740993, 0, 99999.99999, 0.0000000001, 3.25, 1e-300,
  '1899-12-31', '2024-05-00 10:00:00', '2038-01-19 03:14:07', '838:59:59', b'1', 7,
  b'111111111111', NULL, 'y', NULL, 'x', NULL);
