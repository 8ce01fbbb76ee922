#!/usr/bin/env python3
"""Synthetic data for the demo and the benchmark: a register fixture for
register-sim and the matching patient rows of KUNDER. Every name, number and
address is made up.

    generate.py COUNT REGISTER_FILE PATIENTS_SQL [--seed N]

Of the patients, most are in the register with the data the clinic already
has; some have outdated names or addresses, some are deceased, emigrated or
protected in the register, some are not in the register at all, and a few
have malformed personal numbers."""
import random
import sys

FIRST = ["Anna", "Maria", "Karin", "Eva", "Lena", "Kerstin", "Ingrid", "Sara", "Elin", "Maja",
         "Erik", "Lars", "Karl", "Anders", "Johan", "Per", "Nils", "Olof", "Jonas", "Oskar"]
LAST = ["Lindqvist", "Berg", "Öberg", "Nyström", "Ekström", "Håkansson", "Forsberg", "Lundgren",
        "Sandberg", "Wikström", "Holmgren", "Åström", "Strand", "Lövgren", "Granlund"]
STREETS = ["Storgatan", "Kyrkvägen", "Skolgatan", "Björkvägen", "Parkgatan", "Älvgatan",
           "Västra Esplanaden", "Norra Järnvägsgatan", "Tallstigen", "Sjövägen"]
TOWNS = [("903 25", "UMEÅ"), ("931 31", "SKELLEFTEÅ"), ("972 31", "LULEÅ"), ("831 30", "ÖSTERSUND"),
         ("891 33", "ÖRNSKÖLDSVIK"), ("941 32", "PITEÅ"), ("852 30", "SUNDSVALL")]


def sql(text):
    return "'" + text.replace("'", "''") + "'"


def main():
    args = [a for i, a in enumerate(sys.argv[1:], 1) if not a.startswith("--") and sys.argv[i - 1] != "--seed"]
    seed = 7
    if "--seed" in sys.argv:
        seed = int(sys.argv[sys.argv.index("--seed") + 1])
    count, register_file, patients_file = int(args[0]), args[1], args[2]
    # --plain: every patient is in the register and differs from it (the
    # benchmark's worst case: one lookup and one row update each).
    plain = "--plain" in sys.argv
    rnd = random.Random(seed)
    register, rows = [], []
    for i in range(1, count + 1):
        year = 1930 + rnd.randrange(80)
        pnr = "%04d%02d%02d%04d" % (year, 1 + rnd.randrange(12), 1 + rnd.randrange(28), i % 10000)
        sex = rnd.choice("KM")
        first = rnd.choice(FIRST[:10] if sex == "K" else FIRST[10:])
        second = rnd.choice(FIRST[:10] if sex == "K" else FIRST[10:])
        last = rnd.choice(LAST)
        street, number = rnd.choice(STREETS), str(1 + rnd.randrange(60))
        zcode, town = rnd.choice(TOWNS)
        kind = rnd.random()
        if plain:
            kind = 0.30  # a moved patient
        stored_pnr = pnr[:8] + "-" + pnr[8:] if rnd.random() < 0.5 else pnr
        # What the clinic has on file.
        row = {"PERSONNR": stored_pnr, "F_RNAMN": first, "EFTERNAMN": last,
               "ADRESS": street + " " + number, "COADRESS": "", "POSTNR": zcode, "ORT": town, "KON": sex}
        status, secret = "", "N"
        if kind < 0.05:
            row["PERSONNR"] = pnr[:4] + "-" + pnr[4:8] + "-" + pnr[8:]  # two hyphens
        elif kind < 0.07:
            row["PERSONNR"] = pnr[2:]  # ten digits
        elif kind < 0.12:
            register.append("person %s notfound\n" % pnr)
            rows.append(row)
            continue
        elif kind < 0.17:
            status = "AV"
        elif kind < 0.20:
            status = "UV"
        elif kind < 0.23:
            secret = "J"
        elif kind < 0.40:
            row["ADRESS"] = rnd.choice(STREETS) + " " + str(1 + rnd.randrange(60))  # moved since
        elif kind < 0.50:
            row["EFTERNAMN"] = rnd.choice(LAST)  # changed family name
        elif kind < 0.55:
            row["F_RNAMN"] = "Okänd"
        if i % 3:
            row["KON"] = ""  # the cn answers carry no sex: earlier runs have emptied it
        rows.append(row)
        if kind < 0.07:
            continue
        if i % 3:
            register.append(
                "person %s cn\ncn_fname: %s\ncn_lname: %s\ncn_fo_addr1: %s\ncn_fo_addr2: %s\n"
                "cn_fo_zcode: %s\ncn_fo_city: %s\ncn_su_code: %s\ncn_secret: %s\n"
                % (pnr, first, last, number, street, zcode, town, status, secret))
        else:
            register.append(
                "person %s PO\nPO_FNAME: %s %s\nPO_NAME: %s\nPO_DNAME: 1\nPO_MNAME:\nPO_LNAME: %s\n"
                "PO_FO_ADDR1: %s\nPO_FO_ADDR2: %s\nPO_FO_ZCODE: %s\nPO_FO_CITY: %s\nPO_SEX: %s\nPO_SECRET: %s\n"
                % (pnr, first, second, first, last, number, street, zcode.replace(" ", ""), town, sex, secret))
    with open(register_file, "w", encoding="utf-8") as f:
        f.write("# Synthetic register for the demo and the benchmark (demo/generate.py).\n\n")
        f.write("\n".join(register))
    with open(patients_file, "w", encoding="utf-8") as f:
        f.write("-- Synthetic patients (demo/generate.py).\n")
        f.write("BEGIN;\n")
        for n, row in enumerate(rows, start=1):
            cols = ["PATIENTNR"] + list(row)
            vals = [str(n)] + [sql(v) for v in row.values()]
            f.write("INSERT INTO KUNDER (%s) VALUES (%s);\n" % (", ".join(cols), ", ".join(vals)))
        f.write("COMMIT;\n")


if __name__ == "__main__":
    main()
