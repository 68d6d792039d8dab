// Pencil drawing: dark strokes where the luminance has edges, light diagonal hatching in the
// shadows, everything else left as white paper.
// Full precision where the fragment stage offers it, mediump elsewhere.
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif

uniform sampler2D s_texture;

varying vec2 v_texCoord;
varying vec4 v_above;
varying vec4 v_corner;
varying vec4 v_beside;
varying vec4 v_below;
varying vec2 v_stroke;

const vec3 kLuma = vec3(0.299, 0.587, 0.114);
const vec3 kPaper = vec3(0.98, 0.97, 0.95);
const vec3 kGraphite = vec3(0.16, 0.16, 0.19);

void main() {
    // Neighbours named by their place in the frame: s- / s+ rows, t- / t+ columns.
    float mm = dot(texture2D(s_texture, v_above.xy).rgb, kLuma);
    float m0 = dot(texture2D(s_texture, v_above.zw).rgb, kLuma);
    float mp = dot(texture2D(s_texture, v_corner.xy).rgb, kLuma);
    float pm = dot(texture2D(s_texture, v_corner.zw).rgb, kLuma);
    float zm = dot(texture2D(s_texture, v_beside.xy).rgb, kLuma);
    float zp = dot(texture2D(s_texture, v_beside.zw).rgb, kLuma);
    float p0 = dot(texture2D(s_texture, v_below.xy).rgb, kLuma);
    float pp = dot(texture2D(s_texture, v_below.zw).rgb, kLuma);
    float centre = dot(texture2D(s_texture, v_texCoord).rgb, kLuma);

    // Sobel gradient; a luminance step of 0.2 gives a magnitude of 0.8.
    float gs = (pm + 2.0 * p0 + pp) - (mm + 2.0 * m0 + mp);
    float gt = (mp + 2.0 * zp + pp) - (mm + 2.0 * zm + pm);
    float edge = smoothstep(0.12, 0.7, length(vec2(gs, gt)));

    // Hatching: strokes along one diagonal in the shadows, crossed in the deepest ones.
    float shadow = 1.0 - centre;
    float lineA = abs(fract(v_stroke.x + v_stroke.y) - 0.5) * 2.0;
    float lineB = abs(fract(v_stroke.x - v_stroke.y) - 0.5) * 2.0;
    float hatch = (1.0 - smoothstep(0.15, 0.55, lineA)) * smoothstep(0.45, 0.75, shadow);
    hatch = max(hatch, (1.0 - smoothstep(0.15, 0.55, lineB)) * smoothstep(0.7, 0.95, shadow));

    float pencil = max(edge, 0.5 * hatch + 0.08 * shadow);
    gl_FragColor = vec4(mix(kPaper, kGraphite, pencil), 1.0);
}
