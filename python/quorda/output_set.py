"""Reading the output set of one converted day: the particle records and main header records of
the hydrometeor stream <base>.hyd, and the main header records of the header file <base>.hd.

Every number is decoded with an explicit little-endian layout; docs/hyd_format.md describes the
layouts, and the constants below follow it.
"""
import os
import struct
import warnings

import numpy as np
import pandas as pd

# Particle record: a 30-byte head, then the outline in 16-bit words.
PARTICLE_HEAD_SIZE = 30
PARTICLE_HEAD = np.dtype({
    "names": ["len_bits", "len_prev", "t1", "eq_diam", "line_no", "line_no_diff", "diff_lins", "x_min_a",
              "x_min_b", "vel", "scale_a", "scale_b"],
    "formats": ["<u2", "<i2", "<f8", "<i2", "<i2", "<i2", "<i2", "<i2", "<i2", "<i2", "<i2", "<i2"],
    "offsets": [0, 2, 4, 12, 14, 16, 18, 20, 22, 24, 26, 28],
    "itemsize": PARTICLE_HEAD_SIZE,
})
LEN_MASK = 0x7FF  # len_bits: record length in bits 0 to 10
LEN_BITS_SHIFT = 11  # bits per outline value above them
MAX_VALUE_BITS = 10
MAX_LINES = 600  # lines of a particle in one camera

# Main header record: 74 bytes, first word -74.
MAIN_HEADER_SIZE = 74
MAIN_HEADER_INDIC = -74
MAIN_HEADER = np.dtype({
    "names": ["indic", "len_prev", "pix_file", "main_time", "line_fr", "hbl", "hbr", "hfr", "centre_pix", "gate1",
              "gate2", "xscale0_1", "xscale0_2", "l0_1", "l0_2", "hd_w4", "hd_mark", "hd_kind", "hd_zero",
              "ratio_pct"],
    "formats": ["<i2", "<i2", "S14", "<u4", "<f8", "<f4", "<f4", "<f4", "<i2", "<i2", "<i2", "<f4", "<f4", "<f4",
                "<f4", "<i2", "<i2", "<i2", "<i2", "<i2"],
    "offsets": [0, 2, 4, 18, 22, 30, 34, 38, 42, 44, 46, 48, 52, 56, 60, 64, 66, 68, 70, 72],
    "itemsize": MAIN_HEADER_SIZE,
})

# Header file: the per-minute index of the stream (1442 entries of 4 bytes), the length of the
# stream's last record (2 bytes), then the main header records.
MINUTES = 1442
HD_HEAD_SIZE = MINUTES * 4 + 2

SECONDS_PER_DAY = 86400


def _base_of(base):
    """The output set's base path: dir/V26150_1 from dir/V26150_1 or dir/V26150_1.hyd."""
    base = os.fspath(base)
    return base[:-4] if base.endswith(".hyd") else base


def _read(path):
    with open(path, "rb") as f:
        return f.read()


def _walk(stream, path, strict):
    """Offsets of the particle records and of the main header records, in stream order, as far as
    the framing holds: each record's length word and the next record's len_prev agree, and the
    record lies inside the stream."""
    particles, headers = [], []
    pos, prev, end = 0, 0, len(stream)
    fault = None
    while pos < end:
        if end - pos < 4:
            fault = "%d bytes at offset %d, too few for a record" % (end - pos, pos)
            break
        first, len_prev = struct.unpack_from("<hh", stream, pos)
        if first == MAIN_HEADER_INDIC:
            length = MAIN_HEADER_SIZE
        else:
            length = first & LEN_MASK
            nbits = (first & 0xFFFF) >> LEN_BITS_SHIFT
            if first < 0 or length < PARTICLE_HEAD_SIZE or not 1 <= nbits <= MAX_VALUE_BITS:
                fault = "record at offset %d: first word %d is no record length" % (pos, first)
                break
        if len_prev != prev:
            fault = "record at offset %d: len_prev %d, the record before is %d bytes" % (pos, len_prev, prev)
            break
        if length > end - pos:
            fault = "record at offset %d: %d bytes, the stream ends %d bytes after it" % (pos, length, end - pos)
            break
        (headers if first == MAIN_HEADER_INDIC else particles).append(pos)
        prev = length
        pos += length
    if fault is not None:
        message = "%s: %s" % (path, fault)
        if strict:
            raise ValueError(message)
        warnings.warn(message + "; the records before it are read")
    return np.array(particles, dtype=np.int64), np.array(headers, dtype=np.int64)


def _records(stream, offsets, dtype):
    """The fixed-size records (or heads) at `offsets` of `stream` as a structured array."""
    raw = np.frombuffer(stream, dtype=np.uint8)
    index = offsets[:, None] + np.arange(dtype.itemsize)
    return raw[index].reshape(-1).view(dtype)


def _header_frame(records):
    line_fr = records["line_fr"].astype(np.float64)
    main_time = records["main_time"].astype(np.int64)
    return pd.DataFrame({
        "main_time": pd.to_datetime(main_time, unit="s", utc=True),
        "main_time_s": main_time,
        "line": (main_time % SECONDS_PER_DAY) * line_fr,
        "line_fr_hz": line_fr,
        "hbl_mm": records["hbl"],
        "hbr_mm": records["hbr"],
        "hfr_mm": records["hfr"],
        "centre_pix": records["centre_pix"],
        "gate1": records["gate1"],
        "gate2": records["gate2"],
        "xscale0_1_mm_px": records["xscale0_1"],
        "xscale0_2_mm_px": records["xscale0_2"],
        "l0_1_mm": records["l0_1"],
        "l0_2_mm": records["l0_2"],
        "hd_w4": records["hd_w4"],
        "ratio_pct": records["ratio_pct"],
        "len_prev": records["len_prev"],
        "pix_file": [bytes(b).split(b"\0", 1)[0].decode("latin-1") for b in records["pix_file"]],
    })


def read_headers(base, source="hd", strict=True):
    """The main header records of an output set as a DataFrame, one row per record.

    source="hd" reads them from the header file <base>.hd (after its 5770-byte head), source="hyd"
    from the hydrometeor stream, in stream order. Columns: main_time (UTC) and main_time_s (calendar
    seconds) from which the header is in force, line (its time of day in lines), line_fr_hz,
    hbl_mm, hbr_mm, hfr_mm (light plane distances), centre_pix, gate1, gate2, xscale0_1_mm_px,
    xscale0_2_mm_px (pixel widths at the centre of cameras A and B), l0_1_mm, l0_2_mm (camera
    distances), hd_w4, ratio_pct, len_prev and pix_file.
    """
    base = _base_of(base)
    if source == "hd":
        hd = _read(base + ".hd")
        if len(hd) < HD_HEAD_SIZE:
            raise ValueError("%s.hd: %d bytes, shorter than its %d-byte head" % (base, len(hd), HD_HEAD_SIZE))
        count = (len(hd) - HD_HEAD_SIZE) // MAIN_HEADER_SIZE
        offsets = HD_HEAD_SIZE + MAIN_HEADER_SIZE * np.arange(count, dtype=np.int64)
        return _header_frame(_records(hd, offsets, MAIN_HEADER))
    if source == "hyd":
        stream = _read(base + ".hyd")
        _, offsets = _walk(stream, base + ".hyd", strict)
        return _header_frame(_records(stream, offsets, MAIN_HEADER))
    raise ValueError("source is 'hd' or 'hyd', not %r" % (source,))


def outline_word_count(values, nbits):
    """Outline words of `values` values of `nbits` bits: the packed bits rounded up to whole words,
    at least two."""
    return np.maximum(2, -(-(values * nbits) // 16))


def camera_b_lines(line_no, line_no_diff, nbits, length):
    """The lines of each particle in camera B, -1 where none fits. The head keeps only the low 8 bits
    of the difference of the line counts; the count is the least one from 2 to 600 that matches them
    and whose outline (2 * (line_no + lines_b) values) takes exactly the record's words."""
    la = line_no.astype(np.int64)
    d = line_no_diff.astype(np.int64)
    nbits = nbits.astype(np.int64)
    words = (length.astype(np.int64) - PARTICLE_HEAD_SIZE) // 2
    usable = (la >= 2) & (la <= MAX_LINES) & (nbits >= 1) & (nbits <= 15) & (d >= -128) & (d <= 127)
    first = (la + d - 2) % 256 + 2
    lb = np.full(la.shape, -1, dtype=np.int64)
    for step in (512, 256, 0):  # the least candidate last, so that it wins
        cand = first + step
        fits = usable & (cand <= MAX_LINES) & (outline_word_count(2 * (la + cand), nbits) == words)
        lb = np.where(fits, cand, lb)
    return lb


def _outline_values(raw, at, nbits, count):
    """The outline values of a group of records, one after the other: `count` values of `nbits`
    bits from the bit stream that starts after each head. `raw` is the stream's bytes with two zero
    bytes after them, so that each value is read from three bytes (at most 10 bits at any shift)."""
    rec = np.repeat(np.arange(len(at)), count)
    first = np.cumsum(count) - count
    j = np.arange(rec.size) - first[rec]
    bit = (at[rec] + PARTICLE_HEAD_SIZE) * 8 + j * nbits[rec]
    byte = bit >> 3
    word = raw[byte].astype(np.int64) | raw[byte + 1].astype(np.int64) << 8 | raw[byte + 2].astype(np.int64) << 16
    return (word >> (bit & 7)) & ((1 << nbits[rec]) - 1)


def _outlines(stream, at, nbits, la, lb, x_min_a, x_min_b, group=65536):
    """The outlines of the records at `at`: for each a pair of int16 arrays of shape (lines, 2), the
    start and end pixel per line of camera A and of camera B; (None, None) where lb is -1."""
    raw = np.concatenate([np.frombuffer(stream, dtype=np.uint8), np.zeros(2, dtype=np.uint8)])
    la = la.astype(np.int64)
    count = np.where(lb > 0, 2 * (la + lb), 0)
    result = []
    for g in range(0, len(at), group):
        part = slice(g, g + group)
        values = _outline_values(raw, at[part], nbits[part], count[part])
        ends = np.cumsum(count[part])
        for v, a, b, xa, xb in zip(np.split(values, ends[:-1]), la[part], lb[part], x_min_a[part], x_min_b[part]):
            if b <= 0:
                result.append((None, None))
                continue
            result.append(((v[:2 * a].reshape(2, a).T + xa).astype(np.int16),
                           (v[2 * a:].reshape(2, b).T + xb).astype(np.int16)))
    return result


def _in_force(t1, headers):
    """Per particle, the index of the main header in force at its t1: of the stream's main header
    records, the last whose line is at or before t1, else the first."""
    idx = np.zeros(t1.shape, dtype=np.int64)
    for i, line in enumerate(headers["line"].to_numpy()):
        idx = np.where(line <= t1, i, idx)
    return idx


def read_particles(base, outline=False, strict=True):
    """The particle records of <base>.hyd as a DataFrame, one row per record in stream order.

    base is the output set's path without extension (dir/V26150_1) or the .hyd file itself.
    Columns, named as hydinfo --csv names them, the unit at the end of the name:
      t1_lines       line number of the particle's first line in camera A
      time_s         its time of day in seconds (t1 / line frequency of the main header in force)
      time           the same as a UTC time stamp (the day of that main header)
      eq_diam_mm     equivalent diameter
      vel_m_s        fall speed
      scale_a_mm_px, scale_b_mm_px   pixel widths of cameras A and B at the particle
      line_no        lines in camera A; line_no_b: lines in camera B (-1 where none fits the record)
      line_no_diff   low 8 bits of line_no_b - line_no, sign-extended
      diff_lins      lines from the first line in camera A to the first in camera B
      x_min_a_px, x_min_b_px   leftmost pixel in each camera
      length_bytes, nbits      record length and bits per outline value; offset: its place in .hyd
    With outline=True also outline_a and outline_b: per record an int16 array of shape (lines, 2),
    the start and end pixel of the particle's run in each line of camera A and B (None where the
    line counts do not fit the record).

    With strict=True a fault in the stream's framing raises ValueError; with strict=False the
    records before it are returned and a warning names the fault.

    The columns without the outlines turn into an xarray Dataset with
    particles.drop(columns=["outline_a", "outline_b"], errors="ignore").to_xarray().
    The rain products of rainprod open with xarray.open_dataset("products.nc").
    """
    base = _base_of(base)
    stream = _read(base + ".hyd")
    particle_at, header_at = _walk(stream, base + ".hyd", strict)
    heads = _records(stream, particle_at, PARTICLE_HEAD)
    headers = _header_frame(_records(stream, header_at, MAIN_HEADER))

    t1 = heads["t1"].astype(np.float64)
    if len(headers) > 0:
        in_force = _in_force(t1, headers)
        line_fr = headers["line_fr_hz"].to_numpy()[in_force]
        day_start = headers["main_time_s"].to_numpy()[in_force] // SECONDS_PER_DAY * SECONDS_PER_DAY
    else:
        line_fr = np.zeros(t1.shape)
        day_start = np.zeros(t1.shape, dtype=np.int64)
    with np.errstate(divide="ignore", invalid="ignore"):
        time_s = np.where(line_fr > 0, t1 / np.where(line_fr > 0, line_fr, 1.0), np.nan)
    length = (heads["len_bits"] & LEN_MASK).astype(np.int64)
    nbits = (heads["len_bits"] >> LEN_BITS_SHIFT).astype(np.int64)
    line_no_b = camera_b_lines(heads["line_no"], heads["line_no_diff"], nbits, length)

    frame = pd.DataFrame({
        "t1_lines": t1,
        "time_s": time_s,
        "time": pd.to_datetime(day_start, unit="s", utc=True) + pd.to_timedelta(time_s, unit="s"),
        "eq_diam_mm": heads["eq_diam"] / 100.0,
        "vel_m_s": heads["vel"] / 10000.0 * line_fr / 1000.0,
        "scale_a_mm_px": heads["scale_a"] / 10000.0,
        "scale_b_mm_px": heads["scale_b"] / 10000.0,
        "line_no": heads["line_no"],
        "line_no_b": line_no_b,
        "line_no_diff": heads["line_no_diff"],
        "diff_lins": heads["diff_lins"],
        "x_min_a_px": heads["x_min_a"],
        "x_min_b_px": heads["x_min_b"],
        "length_bytes": length,
        "nbits": nbits,
        "offset": particle_at,
    })
    if outline:
        outlines = _outlines(stream, particle_at, nbits, heads["line_no"], line_no_b, heads["x_min_a"],
                             heads["x_min_b"])
        frame["outline_a"] = [a for a, _ in outlines]
        frame["outline_b"] = [b for _, b in outlines]
    return frame


# The 15 values of a line of the text file "res", the unit at the end of each name.
RES_COLUMNS = ["eq_diam_mm", "plane_dist_mm", "u_a1_m_s", "v_a_m_s", "u_a2_m_s", "u_b1_m_s", "v_b_m_s", "u_b2_m_s",
               "height_a_mm", "width_a_mm", "height_b_mm", "width_b_mm", "ratio_a", "ratio_b", "ratio"]


def read_res(path="res"):
    """The text file "res" of a conversion as a DataFrame: one row per measured particle, the
    columns RES_COLUMNS (equivalent diameter, light plane distance, the six speeds, heights, widths
    and axis ratios)."""
    return pd.read_csv(path, sep=r"\s+", header=None, names=RES_COLUMNS)
