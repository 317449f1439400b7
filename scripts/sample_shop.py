#!/usr/bin/env python3
"""Prints the SQL of the sample shop database that `scripts/run.sh` migrates.

    python3 scripts/sample_shop.py [--database NAME] [--seed N] | mariadb ...

The output is the same for the same seed: a random generator seeded once
draws every value, in a fixed order. About 100,000 rows in all:

    customers        5,000   names with accents and in Chinese, NULLs,
                             notes with quotes, backslashes and line breaks
    products         1,000   SKUs, prices (DECIMAL), weights (DOUBLE)
    orders          30,000   dates and times, an ENUM status, totals
    order_items     60,000   quantities, unit prices, discounts (often NULL)
    `order details`  4,000   shipping addresses over several lines
    customer_totals  (view)  orders and turnover per customer

Rows go in as multi-row INSERTs inside one transaction, so loading takes
seconds. `sample_tables()` gives the same rows to Python callers (the tests
compare a migrated workbook with them). Only the standard library is used.
"""

import argparse
import datetime
import random
import sys
import unicodedata

COUNTS = {
    "customers": 5_000,
    "products": 1_000,
    "orders": 30_000,
    "order_items": 60_000,
    "order details": 4_000,
}
ROWS_PER_INSERT = 1_000

WESTERN_FIRST = ["Anna", "José", "Zoë", "François", "Jürgen", "Åsa", "Łukasz", "Chloé", "Ðorđe",
                 "Søren", "Niamh", "Seán", "Mary", "Ahmed", "Olga", "Inês", "Björn", "Renée",
                 "Tomás", "Eleni"]
WESTERN_LAST = ["Smith", "O'Brien", "Müller", "García", "Dvořák", "Nguyễn", "Kowalski", "D'Angelo",
                "Ångström", "Château", "Øster", "Papadopoulos", "van der Berg", "MacLeod", "Núñez"]
# Chinese names with their pinyin, for the e-mail addresses.
CHINESE_FIRST = {"伟": "wei", "娜": "na", "敏": "min", "静": "jing", "强": "qiang", "磊": "lei",
                 "洋": "yang", "艳": "yan", "勇": "yong", "军": "jun", "晓明": "xiaoming"}
CHINESE_LAST = {"王": "wang", "李": "li", "张": "zhang", "刘": "liu", "陈": "chen", "杨": "yang",
                "赵": "zhao", "黄": "huang", "周": "zhou", "欧阳": "ouyang"}
UNDECOMPOSED = str.maketrans({"ø": "o", "ł": "l", "đ": "d"})
CITIES = [
    ("Zürich", "Switzerland"), ("München", "Germany"), ("Kraków", "Poland"),
    ("São Paulo", "Brazil"), ("Montréal", "Canada"), ("Reykjavík", "Iceland"),
    ("Dublin", "Ireland"), ("Lyon", "France"), ("Málaga", "Spain"), ("Århus", "Denmark"),
    ("北京", "中国"), ("上海", "中国"), ("深圳", "中国"), ("台北", "台灣"), ("Chicago", "USA"),
    ("St. John's", "Canada"),
]
STREETS = ["Bahnhofstraße", "Rue de l'Église", "Main Street", "Calle Mayor", "長安街",
           "Ulica Długa", "Strøget", "O'Connell Street"]
CATEGORIES = ["Tea", "Coffee", "Kitchen", "Books", "Garden", "Toys", "Stationery", "茶具"]
ADJECTIVES = ["Classic", "Organic", "Deluxe", "Mini", "Large", "Crème", "Smoky", "Spicy",
              "Hand-made", "Premium", "经典", "有机"]
NOUNS = ["Teapot", "Mug", "Grinder", "Notebook", "Kettle", "Spoon", "Tray", "Candle",
         "Apron", "Jar", "Puzzle", "Lantern", "茶壶", "杯子"]
NOTES = [
    'Prefers "express" delivery',
    "Call before 10 o'clock",
    "VIP customer\nSecond line of the note",
    "Pays by invoice;\r\nask accounting first",
    "Path on the invoice: C:\\Shop\\Invoices",
    "Tab\tseparated\tremark",
    "Rabatt für Stammkunden: 5 %",
    "老客户,请优先发货",
    "Likes 🍵 and ☕",
]
STATUSES = ["new", "paid", "shipped", "delivered", "cancelled"]
COMMENTS = [
    "Leave at the door", 'Gift wrap, "Happy Birthday!"', "Don't ring the bell",
    "Deliver after 6 pm\nor on Saturday", "请在工作日送货", "Fragile – handle with care",
]
GIFT_MESSAGES = [
    "Happy birthday!", "Merry Christmas & a happy New Year", 'From "the team"',
    "Thank you,\nwe'll miss you!", "生日快乐", "Félicitations !",
]

EPOCH = datetime.datetime(2019, 1, 1)


def sql_text(value):
    if value is None:
        return "NULL"
    out = value.replace("\\", "\\\\").replace("'", "\\'")
    out = out.replace("\n", "\\n").replace("\r", "\\r").replace("\0", "\\0")
    return "'" + out + "'"


def money(cents):
    return f"{cents // 100}.{cents % 100:02d}"


def timestamp(rnd):
    when = EPOCH + datetime.timedelta(seconds=rnd.randint(0, 5 * 365 * 86400))
    return when.strftime("%Y-%m-%d %H:%M:%S")


def day(rnd, first_year, years):
    offset = datetime.timedelta(days=rnd.randint(0, years * 365))
    return (datetime.date(first_year, 1, 1) + offset).isoformat()


def customers(rnd, names):
    for i in range(1, COUNTS["customers"] + 1):
        if rnd.random() < 0.3:
            last, first = rnd.choice(list(CHINESE_LAST)), rnd.choice(list(CHINESE_FIRST))
            name = last + first
            mail = f"{CHINESE_FIRST[first]}.{CHINESE_LAST[last]}"
        else:
            first, last = rnd.choice(WESTERN_FIRST), rnd.choice(WESTERN_LAST)
            name = f"{first} {last}"
            plain = unicodedata.normalize("NFKD", f"{first}.{last}".lower().translate(UNDECOMPOSED))
            mail = "".join(c for c in plain if c.isascii() and (c.isalnum() or c == "."))
        names.append(name)
        email = None if rnd.random() < 0.1 else f"{mail}{i}@example.com"
        city, country = rnd.choice(CITIES)
        phone = None if rnd.random() < 0.3 else \
            f"+{rnd.randint(1, 99)} {rnd.randint(100, 999)} {rnd.randint(1000000, 9999999)}"
        note = rnd.choice(NOTES) if rnd.random() < 0.15 else None
        created = timestamp(rnd)
        birth = None if rnd.random() < 0.25 else day(rnd, 1940, 60)
        limit = rnd.choice([0, 50000, 100000, 250000, 1000000]) + rnd.randint(0, 99)
        yield [str(i), name, email, city, country, phone, note, created, birth, money(limit)]


def products(rnd, prices):
    for i in range(1, COUNTS["products"] + 1):
        category = rnd.choice(CATEGORIES)
        name = f"{rnd.choice(ADJECTIVES)} {rnd.choice(NOUNS)}"
        if rnd.random() < 0.05:
            name += ' 12" wide'
        price = rnd.randint(99, 49999)
        prices.append(price)
        weight = None if rnd.random() < 0.2 else f"{rnd.randint(50, 25000) / 1000:g}"
        description = None if rnd.random() < 0.3 else rnd.choice([
            f"{name} from our {category} range",
            "Dishwasher safe.\nNot for the microwave.",
            "Limited edition – only while stock lasts!",
            "手工制作,每件略有不同",
            "Inhalt: 500 g; Herkunft: Österreich",
        ])
        in_stock = str(int(rnd.random() < 0.9))
        yield [str(i), f"SKU-{i:08d}", name, category, money(price), weight, in_stock, description]


def orders_and_items(rnd, prices):
    orders, items = [], []
    item_id = 0
    remaining_items = COUNTS["order_items"]
    order_count = COUNTS["orders"]
    for i in range(1, order_count + 1):
        # Two items per order on average; the last order takes what is left.
        left_orders = order_count - i
        n = remaining_items
        if left_orders:
            n = min(remaining_items - left_orders, rnd.randint(1, 3))
        remaining_items -= n
        total = 0
        for _ in range(n):
            item_id += 1
            product = rnd.randint(1, len(prices))
            quantity = rnd.randint(1, 12)
            discount = None if rnd.random() < 0.7 else rnd.choice([5, 10, 15, 25])
            line = prices[product - 1] * quantity
            if discount:
                line = (line * (100 - discount) + 50) // 100
            total += line
            items.append([str(item_id), str(i), str(product), str(quantity),
                          money(prices[product - 1]),
                          money(discount * 100) if discount is not None else None])
        comment = rnd.choice(COMMENTS) if rnd.random() < 0.1 else None
        orders.append([str(i), str(rnd.randint(1, COUNTS["customers"])), timestamp(rnd),
                       rnd.choice(STATUSES), money(total), comment])
    return orders, items


def order_details(rnd, customer_names):
    picked = sorted(rnd.sample(range(1, COUNTS["orders"] + 1), COUNTS["order details"]))
    for order_id in picked:
        city, country = rnd.choice(CITIES)
        street = f"{rnd.choice(STREETS)} {rnd.randint(1, 250)}"
        address = street if rnd.random() < 0.5 else f"{street}\nc/o {rnd.choice(customer_names)}"
        shipped = None if rnd.random() < 0.2 else day(rnd, 2019, 5)
        postal = None if country in ("Ireland", "中国") else f"{rnd.randint(1000, 99999):05d}"
        gift = rnd.choice(GIFT_MESSAGES) if rnd.random() < 0.25 else None
        yield [str(order_id), rnd.choice(customer_names), address, city, postal, country, shipped,
               money(rnd.randint(0, 9999)), gift]


def sample_tables(seed=1):
    """The tables in load order: (name, column names, rows). Every value is
    the text the server gives back for it, or None for NULL."""
    rnd = random.Random(seed)
    names, prices = [], []
    tables = [
        ("customers", ["id", "name", "email", "city", "country", "phone", "note", "created_at",
                       "birth_date", "credit_limit"], list(customers(rnd, names))),
        ("products", ["id", "sku", "name", "category", "price", "weight_kg", "in_stock",
                      "description"], list(products(rnd, prices))),
    ]
    orders, items = orders_and_items(rnd, prices)
    tables.append(("orders", ["id", "customer_id", "ordered_at", "status", "total", "comment"],
                   orders))
    tables.append(("order_items", ["id", "order_id", "product_id", "quantity", "unit_price",
                                   "discount_percent"], items))
    tables.append(("order details", ["order_id", "ship_name", "ship_address", "ship_city",
                                     "ship_postal_code", "ship_country", "shipped_date", "freight",
                                     "gift_message"], list(order_details(rnd, names[:500]))))
    return tables


SCHEMA = """\
CREATE TABLE customers (
  id INT NOT NULL PRIMARY KEY,
  name VARCHAR(100) NOT NULL,
  email VARCHAR(120) NULL,
  city VARCHAR(60) NOT NULL,
  country VARCHAR(40) NOT NULL,
  phone VARCHAR(30) NULL,
  note TEXT NULL,
  created_at DATETIME NOT NULL,
  birth_date DATE NULL,
  credit_limit DECIMAL(10,2) NOT NULL DEFAULT 0.00,
  KEY customers_city (city)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE products (
  id INT NOT NULL PRIMARY KEY,
  sku CHAR(12) NOT NULL UNIQUE,
  name VARCHAR(120) NOT NULL,
  category VARCHAR(40) NOT NULL,
  price DECIMAL(10,2) NOT NULL,
  weight_kg DOUBLE NULL,
  in_stock TINYINT(1) NOT NULL DEFAULT 1,
  description TEXT NULL
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE orders (
  id INT NOT NULL PRIMARY KEY,
  customer_id INT NOT NULL,
  ordered_at DATETIME NOT NULL,
  status ENUM('new','paid','shipped','delivered','cancelled') NOT NULL,
  total DECIMAL(12,2) NOT NULL,
  comment VARCHAR(255) NULL,
  KEY orders_customer (customer_id),
  CONSTRAINT orders_customer_fk FOREIGN KEY (customer_id) REFERENCES customers (id)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE order_items (
  id INT NOT NULL PRIMARY KEY,
  order_id INT NOT NULL,
  product_id INT NOT NULL,
  quantity SMALLINT NOT NULL,
  unit_price DECIMAL(10,2) NOT NULL,
  discount_percent DECIMAL(4,2) NULL,
  KEY order_items_order (order_id),
  KEY order_items_product (product_id),
  CONSTRAINT order_items_order_fk FOREIGN KEY (order_id) REFERENCES orders (id),
  CONSTRAINT order_items_product_fk FOREIGN KEY (product_id) REFERENCES products (id)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE `order details` (
  order_id INT NOT NULL PRIMARY KEY,
  ship_name VARCHAR(100) NOT NULL,
  ship_address VARCHAR(200) NOT NULL,
  ship_city VARCHAR(60) NOT NULL,
  ship_postal_code VARCHAR(10) NULL,
  ship_country VARCHAR(40) NOT NULL,
  shipped_date DATE NULL,
  freight DECIMAL(8,2) NOT NULL,
  gift_message TEXT NULL,
  CONSTRAINT order_details_order_fk FOREIGN KEY (order_id) REFERENCES orders (id)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE VIEW customer_totals AS
  SELECT c.id, c.name, c.country, COUNT(o.id) AS orders, COALESCE(SUM(o.total), 0) AS turnover
  FROM customers c LEFT JOIN orders o ON o.customer_id = c.id
  GROUP BY c.id, c.name, c.country;
"""


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--database", default="shop", help="database to (re)create (default: shop)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the values (default: 1)")
    args = parser.parse_args()

    out = sys.stdout
    db = args.database.replace("`", "``")
    out.write("SET NAMES utf8mb4;\n")
    out.write("SET foreign_key_checks = 0, unique_checks = 0, autocommit = 0;\n")
    out.write(f"DROP DATABASE IF EXISTS `{db}`;\n")
    out.write(f"CREATE DATABASE `{db}` DEFAULT CHARACTER SET utf8mb4;\nUSE `{db}`;\n")
    out.write(SCHEMA)
    for table, columns, rows in sample_tables(args.seed):
        head = f"INSERT INTO `{table}` (" + ", ".join(f"`{c}`" for c in columns) + ") VALUES\n"
        for start in range(0, len(rows), ROWS_PER_INSERT):
            batch = rows[start:start + ROWS_PER_INSERT]
            out.write(head + ",\n".join("(" + ",".join(map(sql_text, row)) + ")" for row in batch))
            out.write(";\n")
    out.write("COMMIT;\nSET foreign_key_checks = 1, unique_checks = 1;\n")


if __name__ == "__main__":
    main()
