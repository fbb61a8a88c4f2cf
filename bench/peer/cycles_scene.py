# Builds bench/peer/scene.json's scene in Blender for Cycles (CPU) and renders it:
#   blender -b --factory-startup --python cycles_scene.py -- OUT.exr SPP SEED THREADS [SKY.hdr]
# Prints "render-seconds S" (the render call alone, without start-up and writing).
# Same geometry (a 40 x 40 ground, UV spheres of 64 segments and 32 rings, smooth),
# camera, point lights (no radius) and bounce limit; Diffuse, Glossy (GGX) and Glass
# nodes for the matte, metal and glass materials; no denoiser, no adaptive sampling,
# a one-pixel box filter as vesper-render's (Blender's default, a 1.5-pixel
# Blackman-Harris, averages neighbouring pixels' samples), Blender's default clamps.
# With SKY.hdr, scene_sky.json's scene instead: no lights, the lat-long image as the
# world (importance-sampled, Cycles' default), turned to face the way vesper-render
# looks it up.
import math
import sys
import time

import bpy
from mathutils import Vector

args = sys.argv[sys.argv.index("--") + 1:]
out, spp, seed, threads = args[:4]
sky = args[4] if len(args) > 4 else None

bpy.ops.wm.read_factory_settings(use_empty=True)
scene = bpy.context.scene
scene.render.engine = "CYCLES"
cy = scene.cycles
cy.device = "CPU"
cy.samples = int(spp)
cy.seed = int(seed)
cy.use_adaptive_sampling = False
cy.use_denoising = False
cy.max_bounces = cy.diffuse_bounces = cy.glossy_bounces = cy.transmission_bounces = 4
cy.transparent_max_bounces = 4
scene.render.threads_mode = "FIXED"
scene.render.threads = int(threads)
scene.render.resolution_x, scene.render.resolution_y = 480, 270
scene.render.resolution_percentage = 100
scene.render.use_persistent_data = False
cy.pixel_filter_type = "BOX"
cy.filter_width = 1.0

world = bpy.data.worlds.new("world")
world.use_nodes = True
if sky:
    # vesper-render reads column s of the image at azimuth pi/2 - 2 pi s about +z,
    # Cycles at pi - 2 pi s: the lookup direction turns 90 degrees.
    nodes, links = world.node_tree.nodes, world.node_tree.links
    coords = nodes.new("ShaderNodeTexCoord")
    mapping = nodes.new("ShaderNodeMapping")
    mapping.inputs["Rotation"].default_value = (0.0, 0.0, math.radians(90.0))
    image = nodes.new("ShaderNodeTexEnvironment")
    image.image = bpy.data.images.load(sky)
    image.interpolation = "Linear"
    links.new(coords.outputs["Generated"], mapping.inputs["Vector"])
    links.new(mapping.outputs["Vector"], image.inputs["Vector"])
    links.new(image.outputs["Color"], nodes["Background"].inputs["Color"])
else:
    world.node_tree.nodes["Background"].inputs["Strength"].default_value = 0.0
scene.world = world


def material(name, kind, color, roughness=0.0, ior=1.5):
    m = bpy.data.materials.new(name)
    m.use_nodes = True
    nodes = m.node_tree.nodes
    nodes.clear()
    out_node = nodes.new("ShaderNodeOutputMaterial")
    bsdf = nodes.new({"diffuse": "ShaderNodeBsdfDiffuse", "glossy": "ShaderNodeBsdfGlossy",
                      "glass": "ShaderNodeBsdfGlass"}[kind])
    bsdf.inputs["Color"].default_value = (*color, 1.0)
    if kind != "diffuse":
        bsdf.distribution = "GGX"
        bsdf.inputs["Roughness"].default_value = roughness
    if kind == "glass":
        bsdf.inputs["IOR"].default_value = ior
    m.node_tree.links.new(bsdf.outputs[0], out_node.inputs["Surface"])
    return m


def sphere(name, location, mat):
    bpy.ops.mesh.primitive_uv_sphere_add(segments=64, ring_count=32, radius=0.7,
                                         location=location)
    obj = bpy.context.object
    obj.name = name
    bpy.ops.object.shade_smooth()
    obj.data.materials.append(mat)


# Blender's roughness is the square root of the GGX alpha the library's roughness names.
bpy.ops.mesh.primitive_plane_add(size=40.0, location=(0, 0, 0))
bpy.context.object.data.materials.append(material("ground", "diffuse", (0.5, 0.5, 0.5)))
sphere("matte", (-1.6, 0, 0.7), material("matte", "diffuse", (0.7, 0.25, 0.2)))
sphere("metal", (0, 0.6, 0.7), material("metal", "glossy", (0.95, 0.75, 0.45), math.sqrt(0.15)))
sphere("glass", (1.6, 0, 0.7), material("glass", "glass", (1, 1, 1), math.sqrt(0.01), 1.5))

# The host's point light gives color * intensity / d^2; a Cycles point light of
# power P gives P / (4 pi d^2).
lights = [] if sky else [((-3, -4, 6), (1, 0.95, 0.9), 40.0), ((4, -2, 3), (0.85, 0.9, 1), 15.0)]
for i, (pos, color, intensity) in enumerate(lights):
    data = bpy.data.lights.new("light%d" % i, "POINT")
    data.energy = 4.0 * math.pi * intensity
    data.color = color
    data.shadow_soft_size = 0.0
    obj = bpy.data.objects.new("light%d" % i, data)
    obj.location = pos
    scene.collection.objects.link(obj)

cam_data = bpy.data.cameras.new("camera")
cam_data.sensor_fit = "VERTICAL"
cam_data.angle_y = math.radians(40.0)
cam = bpy.data.objects.new("camera", cam_data)
cam.location = (0, -7, 2.2)
cam.rotation_euler = (Vector((0, 0, 0.7)) - cam.location).to_track_quat("-Z", "Y").to_euler()
scene.collection.objects.link(cam)
scene.camera = cam

scene.render.image_settings.file_format = "OPEN_EXR"
scene.render.image_settings.color_depth = "32"
scene.render.image_settings.color_mode = "RGBA"
start = time.perf_counter()
bpy.ops.render.render()
print("render-seconds %.4f" % (time.perf_counter() - start))
bpy.data.images["Render Result"].save_render(out)
