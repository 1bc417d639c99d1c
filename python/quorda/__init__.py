"""Particle data of the quorda converter in Python.

    import quorda
    particles = quorda.read_particles("scratch/sample/V26150_1")   # pandas DataFrame, one row per particle
    headers = quorda.read_headers("scratch/sample/V26150_1")       # the main header records
    res = quorda.read_res("scratch/sample/res")                    # the 15 values per particle, named

The rain products that rainprod writes as NetCDF open with xarray:

    import xarray
    products = xarray.open_dataset("scratch/sample/products.nc")   # time axis decoded to dates
"""
from .output_set import RES_COLUMNS, camera_b_lines, outline_word_count, read_headers, read_particles, read_res

__version__ = "1.1.0"
__all__ = ["read_particles", "read_headers", "read_res", "RES_COLUMNS", "camera_b_lines", "outline_word_count"]
