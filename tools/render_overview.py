#!/usr/bin/python3
"""Render the five overview tiles Tiles/000.png ... Tiles/111.png.

The map view seeds its coarsest levels from these files: the zoom 0 tile and
the four zoom 1 tiles of the standard Web Mercator grid (x eastward from
180 deg W, y southward from 85.0511 deg N), 256 x 256 pixels each, named by
zoom, x and y digits.  They show land, sea and country borders drawn from the
public-domain Natural Earth 1:110m countries that Debian's python3-geopandas
ships (naturalearth_lowres).

Needs Debian's python3-geopandas, python3-matplotlib and python3-pil; run it
with /usr/bin/python3 from anywhere:

    /usr/bin/python3 tools/render_overview.py [--out DIR] [--data SHAPEFILE]
"""

import argparse
import io
import math
import os
import sys
import warnings

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import geopandas  # noqa: E402

TILE_SIZE = 256
# Half the width of the Web Mercator world square in metres (EPSG:3857).
WORLD_HALF = 20037508.34
# Latitude of the grid's north and south edges: the square is as tall as wide.
MAX_LAT = math.degrees(math.atan(math.sinh(math.pi)))

SEA_COLOUR = "#aad3df"
LAND_COLOUR = "#f2efe9"
BORDER_COLOUR = "#9d97ab"
BORDER_WIDTH_PX = 0.6
PALETTE_COLOURS = 64

TILES = [(0, 0, 0), (1, 0, 0), (1, 0, 1), (1, 1, 0), (1, 1, 1)]


def default_data_path():
    with warnings.catch_warnings():
        # geopandas 0.12+ announces the removal of its bundled datasets.
        warnings.simplefilter("ignore")
        return geopandas.datasets.get_path("naturalearth_lowres")


def load_world(path):
    """Return (land polygons, border lines), both in EPSG:3857."""
    from shapely.geometry import box

    world = geopandas.read_file(path)
    if world.crs is None:
        world = world.set_crs("EPSG:4326")
    world = world.to_crs("EPSG:4326")
    # Cut at the grid's latitude limit before projecting: the poles map to
    # infinity, and Antarctica reaches -90.
    frame = box(-180.0, -MAX_LAT, 180.0, MAX_LAT)
    land = world.geometry.clip_by_rect(*frame.bounds)
    land = land[~land.is_empty]
    # Outlines that run along the frame are cuts, not borders: Antarctica's
    # cut at the latitude limit and the antimeridian splits of Russia and Fiji
    # would otherwise draw lines along the edges of the world square.
    cuts = frame.exterior.buffer(1e-6)
    borders = land.boundary.difference(cuts)
    borders = borders[~borders.is_empty]
    return land.to_crs("EPSG:3857"), borders.to_crs("EPSG:3857")


def tile_extent(zoom, x, y):
    """Return (west, south, east, north) of tile x, y at zoom in metres."""
    span = 2.0 * WORLD_HALF / (1 << zoom)
    west = -WORLD_HALF + x * span
    north = WORLD_HALF - y * span
    return west, north - span, west + span, north


def render_tile(land, borders, zoom, x, y):
    """Return the tile as an RGB Pillow image of TILE_SIZE x TILE_SIZE."""
    from PIL import Image

    dpi = 100.0
    fig = plt.figure(figsize=(TILE_SIZE / dpi, TILE_SIZE / dpi), dpi=dpi,
                     facecolor=SEA_COLOUR)
    ax = fig.add_axes([0.0, 0.0, 1.0, 1.0])
    ax.set_axis_off()
    ax.set_facecolor(SEA_COLOUR)
    land.plot(ax=ax, facecolor=LAND_COLOUR, edgecolor="none", antialiased=True)
    borders.plot(ax=ax, color=BORDER_COLOUR,
                 linewidth=BORDER_WIDTH_PX * 72.0 / dpi, antialiased=True)
    west, south, east, north = tile_extent(zoom, x, y)
    ax.set_xlim(west, east)
    ax.set_ylim(south, north)
    ax.set_aspect("auto")
    ax.margins(0)

    fig.canvas.draw()
    width, height = fig.canvas.get_width_height()
    if (width, height) != (TILE_SIZE, TILE_SIZE):
        raise RuntimeError("canvas is %dx%d, not %d" % (width, height, TILE_SIZE))
    image = Image.frombuffer("RGBA", (width, height), fig.canvas.buffer_rgba(),
                             "raw", "RGBA", 0, 1).convert("RGB")
    plt.close(fig)
    return image


def encode_png(image):
    """Palette-quantise the tile and return its PNG bytes, without metadata."""
    from PIL import Image

    quantised = image.quantize(colors=PALETTE_COLOURS,
                               method=Image.Quantize.MEDIANCUT,
                               dither=Image.Dither.NONE)
    buffer = io.BytesIO()
    quantised.save(buffer, format="PNG", optimize=True)
    return buffer.getvalue()


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", default=os.path.join(here, os.pardir, "Tiles"),
                        help="folder for the five PNG files (default: the "
                             "repository's Tiles folder)")
    parser.add_argument("--data", default=None,
                        help="country polygons readable by geopandas "
                             "(default: Natural Earth naturalearth_lowres)")
    args = parser.parse_args(argv)

    land, borders = load_world(args.data or default_data_path())
    os.makedirs(args.out, exist_ok=True)
    for zoom, x, y in TILES:
        data = encode_png(render_tile(land, borders, zoom, x, y))
        path = os.path.join(args.out, "%d%d%d.png" % (zoom, x, y))
        with open(path, "wb") as out:
            out.write(data)
        print("%s: %d bytes" % (os.path.relpath(path), len(data)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
